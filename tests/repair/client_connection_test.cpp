// The repair client and its connection: a server that drops the
// connection inside a record, one that falls silent, a cancel while a read
// waits, and the cache saved every 33 records.
#include <gtest/gtest.h>

#include "client_test_support.h"

namespace {

using namespace RepairClientTest;
using NetTest::TestPeer;
using NolkPatch::FileTreeSummary;
using NolkPatch::NolkAgentClientTask;
using RepairTest::Installation;

TEST(ClientConnectionTest, ConnectionDroppedInsideARecordFailsTheRun) {
  Installation install;
  std::string records =
      RawRecord(L"a.txt#000", "complete") + RawRecord(L"b.bin#000", NetTest::PatternBytes(50000));
  records.resize(records.size() - 20000);
  ServerView view;
  TestPeer server(Serve(view, 2, records, true));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_RECEIVING);
  EXPECT_EQ(run.task.GetReceivedCount(), 1u);
  // The complete record is written and kept in the cache.
  FileTreeSummary cache;
  ASSERT_EQ(cache.LoadFromFile(install.Wide(L"repair.cks")), NOLKRESULT_OK);
  NolkPatch::SegmentEntry entry;
  EXPECT_TRUE(cache.Find(L"a.txt#000", entry));
  EXPECT_FALSE(cache.Find(L"b.bin#000", entry));
}

TEST(ClientConnectionTest, SilentServerHitsTheInactivityLimit) {
  Installation install;
  ServerView view;
  TestPeer server(Serve(view, 3, RawRecord(L"a.txt#000", "one")));
  ClientRun run(install);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(run.RunToEnd(server.Address(), 400ms));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_RECEIVING);
  EXPECT_EQ(run.task.GetReceivedCount(), 1u);
}

TEST(ClientConnectionTest, CancelEndsAReadThatWaitsOnASilentServer) {
  Installation install;
  ServerView view;
  TestPeer server(Serve(view, 3, RawRecord(L"a.txt#000", "one")));
  ClientRun run(install);
  run.Configure(server.Address(), 0ms);  // no inactivity limit: only the cancel ends the wait
  run.task.Start();
  for (int waited = 0; run.task.GetReceivedCount() < 1 && waited < 20000; waited += 5)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(run.task.GetReceivedCount(), 1u);
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(run.task.IsBusy());
  const auto cancelled = std::chrono::steady_clock::now();
  run.task.Cancel();
  ASSERT_TRUE(run.WaitUntilIdle(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 5s);
  EXPECT_NE(run.task.GetResult(), NOLKRESULT_OK);
  EXPECT_FALSE(run.task.Succeeded());
}

TEST(ClientConnectionTest, DestroyingABusyTaskStopsIt) {
  Installation install;
  ServerView view;
  TestPeer server(Serve(view, 3, ""));
  const auto started = std::chrono::steady_clock::now();
  {
    ClientRun run(install);
    run.Configure(server.Address(), 0ms);
    run.task.Start();
    for (int waited = 0; run.task.GetState() < NolkAgentClientTask::STATE_RECEIVING && waited < 20000;
         waited += 5)
      std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(run.task.IsBusy());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

// The server sends 40 of 50 records and falls silent: the cache saved
// after the 33rd record holds the records written by then.
TEST(ClientConnectionTest, CacheIsSavedEvery33Records) {
  Installation install;
  std::string records;
  for (int i = 0; i < 40; ++i)
    records += RawRecord(L"f" + std::to_wstring(i) + L".txt#000", "content " + std::to_string(i));
  ServerView view;
  TestPeer server(Serve(view, 50, records));
  ClientRun run(install);
  run.Configure(server.Address(), 0ms);
  run.task.Start();
  for (int waited = 0; run.task.GetReceivedCount() < 40 && waited < 20000; waited += 5)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(run.task.GetReceivedCount(), 40u);
  std::this_thread::sleep_for(300ms);
  FileTreeSummary cache;
  ASSERT_EQ(cache.LoadFromFile(install.Wide(L"repair.cks")), NOLKRESULT_OK);
  // Records up to the 30th had been written when the 33rd arrived; none
  // after the 33rd can be in the cache yet.
  EXPECT_GE(cache.Count(), 29u);
  EXPECT_LE(cache.Count(), 33u);
  run.task.Cancel();
  ASSERT_TRUE(run.WaitUntilIdle());
  // The final save has every written record.
  ASSERT_EQ(cache.LoadFromFile(install.Wide(L"repair.cks")), NOLKRESULT_OK);
  EXPECT_EQ(cache.Count(), 40u);
}

}  // namespace
