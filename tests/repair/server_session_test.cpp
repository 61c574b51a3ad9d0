// The repair server against clients that misbehave: a wrong protocol
// number, garbage, a client that stops half way or leaves during the
// transfer, many clients at once; and its start-up: the folders it refuses
// and the index it keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "RepairTestSupport.h"
#include "server_test_support.h"

namespace {

using RepairTest::Installation;
using RepairTest::RandomBytes;
using namespace ServerTest;

constexpr std::size_t kSegment = 4194304;

class ServerSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reference.Valid());
    reference.Write("bin/Launcher.exe", RandomBytes(3 * kSegment + 11, 1));
    reference.Write("data/a.pak", RandomBytes(5000, 2));
    ASSERT_TRUE(empty.Valid());
  }
  std::string Root() const { return reference.Native("").string(); }
  // A client with nothing gets every reference segment.
  void ExpectFullService(const ServerProcess& server, std::size_t expected = 5) {
    std::vector<Record> records;
    ASSERT_TRUE(Exchange(server.Port(), ScanSummary(empty), records)) << server.Log();
    EXPECT_EQ(records.size(), expected);
  }

  Installation reference;
  Installation empty;
};

TEST_F(ServerSessionTest, WrongProtocolNumberIsClosedUnansweredWithALogLine) {
  ServerProcess server(Root());
  ASSERT_TRUE(server.Running()) << server.Log();
  ScriptedClient client(server.Port());
  ASSERT_TRUE(client.SendWord(5));
  EXPECT_TRUE(client.SeesEnd());
  ASSERT_TRUE(server.WaitForSessions(1));
  EXPECT_NE(server.SessionLines()[0].find("refused protocol 5"), std::string::npos) << server.Log();
  EXPECT_NE(server.SessionLines()[0].find("session 127.0.0.1:"), std::string::npos);
  ExpectFullService(server);
}

TEST_F(ServerSessionTest, GarbageInsteadOfASummaryEndsOnlyThatSession) {
  ServerProcess server(Root());
  ASSERT_TRUE(server.Running()) << server.Log();
  const auto noise = RandomBytes(100000, 3);
  {
    ScriptedClient client(server.Port());
    std::uint32_t answer = 0;
    ASSERT_TRUE(client.SendWord(6) && client.ReceiveWord(answer));
    EXPECT_EQ(answer, 6u);
    client.Send(std::string(noise.begin(), noise.end()));
    EXPECT_TRUE(client.SeesEnd());
  }
  {
    // The right magic, then a name count no summary can have.
    ScriptedClient client(server.Port());
    std::string lie;
    NolkUtil::AppendLe32(6, lie);
    NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, lie);
    NolkUtil::AppendLe32(1, lie);
    NolkUtil::AppendLe32(0x7FFFFFFF, lie);
    ASSERT_TRUE(client.Send(lie));
    std::uint32_t answer = 0;
    ASSERT_TRUE(client.ReceiveWord(answer));
    EXPECT_TRUE(client.SeesEnd());
  }
  {
    // A whole summary followed by bytes the protocol does not have.
    ScriptedClient client(server.Port());
    ASSERT_TRUE(client.Send(Cat(std::string("\6\0\0\0", 4), ScanSummary(empty), "trailing")));
    std::uint32_t answer = 0;
    ASSERT_TRUE(client.ReceiveWord(answer));
    EXPECT_TRUE(client.SeesEnd());
  }
  ASSERT_TRUE(server.WaitForSessions(3));
  for (const auto& line : server.SessionLines())
    EXPECT_NE(line.find("refused summary"), std::string::npos) << line;
  ExpectFullService(server);
}

TEST_F(ServerSessionTest, ClientThatStopsHalfWayIsDroppedAtTheIdleLimitWhileOthersAreServed) {
  ServerProcess server(Root(), {"--idle-timeout", "2"});
  ASSERT_TRUE(server.Running()) << server.Log();
  ScriptedClient stalled(server.Port());
  const std::string summary = ScanSummary(reference);
  ASSERT_TRUE(stalled.Send(Cat(std::string("\6\0\0\0", 4), summary.substr(0, summary.size() / 2))));
  // Served while the stalled session waits.
  ExpectFullService(server);
  const auto before = std::chrono::steady_clock::now();
  std::uint32_t answer = 0;
  ASSERT_TRUE(stalled.ReceiveWord(answer));
  EXPECT_TRUE(stalled.SeesEnd());
  EXPECT_LT(std::chrono::steady_clock::now() - before, 15s);
  ASSERT_TRUE(server.WaitForSessions(2));
  bool timedOut = false;
  for (const auto& line : server.SessionLines())
    timedOut |= line.find("timed out during the summary") != std::string::npos;
  EXPECT_TRUE(timedOut) << server.Log();
}

TEST_F(ServerSessionTest, ClientThatLeavesDuringTheTransferIsLoggedWithWhatItGot) {
  reference.Write("data/b.pak", RandomBytes(12 * kSegment, 4));
  ServerProcess server(Root());
  ASSERT_TRUE(server.Running()) << server.Log();
  {
    ScriptedClient client(server.Port());
    std::uint32_t answer = 0, total = 0;
    ASSERT_TRUE(client.SendWord(6) && client.ReceiveWord(answer));
    ASSERT_TRUE(client.Send(ScanSummary(empty)) && client.ReceiveWord(total));
    EXPECT_EQ(total, 17u);
    Record record;
    ASSERT_TRUE(client.ReceiveRecord(record));
  }
  ASSERT_TRUE(server.WaitForSessions(1));
  const std::string line = server.SessionLines()[0];
  std::size_t sent = 0, planned = 0;
  ASSERT_TRUE(SentFigures(line, sent, planned)) << line;
  EXPECT_EQ(planned, 17u);
  EXPECT_LT(sent, planned);
  EXPECT_NE(line.find("connection lost"), std::string::npos) << line;
  ExpectFullService(server, 17);
}

TEST_F(ServerSessionTest, EightClientsAtOnceAllGetTheirWholeRepair) {
  ServerProcess server(Root(), {"--threads", "2"});
  ASSERT_TRUE(server.Running()) << server.Log();
  const std::string summary = ScanSummary(empty);
  std::vector<std::future<std::size_t>> clients;
  for (int i = 0; i < 8; ++i)
    clients.push_back(std::async(std::launch::async, [&] {
      std::vector<Record> records;
      return Exchange(server.Port(), summary, records) ? records.size() : 0;
    }));
  for (auto& client : clients) EXPECT_EQ(client.get(), 5u);
  ASSERT_TRUE(server.WaitForSessions(8));
  for (const auto& line : server.SessionLines())
    EXPECT_NE(line.find("complete: sent 5 of 5 segments"), std::string::npos) << line;
}

TEST_F(ServerSessionTest, StopsCleanlyOnSigterm) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux only: the stop is SIGTERM, which a Windows process cannot be sent";
#endif
  ServerProcess server(Root());
  ASSERT_TRUE(server.Running()) << server.Log();
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.Log().find("stopped"), std::string::npos);
}

TEST_F(ServerSessionTest, RefusesToStartOnAFolderItCannotRead) {
  std::string output;
  EXPECT_EQ(ServerProcess::RunToEnd({ServerProgram(), "--root", Root() + "/missing", "--port", "0"}, output),
            1);
  EXPECT_NE(output.find("cannot serve"), std::string::npos) << output;
  EXPECT_EQ(
      ServerProcess::RunToEnd({ServerProgram(), "--root", Root() + "/data/a.pak", "--port", "0"}, output), 1);
#ifndef _WIN32
  // A folder without read permission (Windows has no mode bits to take away).
  if (geteuid() != 0) {  // root reads every folder whatever its mode
    std::filesystem::permissions(reference.Native("data"), std::filesystem::perms::none);
    EXPECT_EQ(ServerProcess::RunToEnd(
                  {ServerProgram(), "--root", reference.Native("data").string(), "--port", "0"}, output),
              1);
    std::filesystem::permissions(reference.Native("data"), std::filesystem::perms::owner_all);
  }
#endif
  EXPECT_EQ(ServerProcess::RunToEnd({ServerProgram(), "--port", "0"}, output), 2);
  EXPECT_EQ(ServerProcess::RunToEnd({ServerProgram(), "--root", Root(), "--port", "70000"}, output), 2);
}

TEST_F(ServerSessionTest, IndexIsReusedWhenNothingChangedAndRefreshedForChangedFiles) {
  {
    ServerProcess server(Root());
    ASSERT_TRUE(server.Running()) << server.Log();
    EXPECT_NE(server.Log().find("index built"), std::string::npos) << server.Log();
  }
  ASSERT_TRUE(std::filesystem::exists(reference.Native("repair.cks")));
  // Bytes changed under an unchanged time keep the indexed checksum: proof
  // that the index, not the file, answered. The record itself still
  // carries the checksum of the bytes it sends.
  reference.OverwriteKeepingTime("data/a.pak", 0, "changed bytes");
  Installation client;
  client.Write("data/a.pak", reference.Read("data/a.pak"));
  {
    ServerProcess server(Root());
    ASSERT_TRUE(server.Running()) << server.Log();
    EXPECT_NE(server.Log().find("index reused"), std::string::npos) << server.Log();
    std::vector<Record> records;
    ASSERT_TRUE(Exchange(server.Port(), ScanSummary(client), records));
    const auto named = ByName(records);
    ASSERT_EQ(named.count(L"data\\a.pak#000"), 1u);
    EXPECT_EQ(named.at(L"data\\a.pak#000").data, reference.Read("data/a.pak"));
  }
  reference.ShiftTime("data/a.pak", 5);
  {
    ServerProcess server(Root());
    ASSERT_TRUE(server.Running()) << server.Log();
    std::vector<Record> records;
    ASSERT_TRUE(Exchange(server.Port(), ScanSummary(client), records));
    EXPECT_EQ(ByName(records).count(L"data\\a.pak#000"), 0u);  // rescanned: now equal
    EXPECT_EQ(records.size(), 4u);                             // the launcher's segments
  }
}

TEST_F(ServerSessionTest, IndexOutsideTheReferenceIsUsedAndTheReferenceLeftUntouched) {
  Installation elsewhere;
  const std::string index = elsewhere.Native("reference.index").string();
  {
    ServerProcess server(Root(), {"--index", index});
    ASSERT_TRUE(server.Running()) << server.Log();
    ExpectFullService(server);
  }
  EXPECT_TRUE(std::filesystem::exists(index));
  EXPECT_FALSE(std::filesystem::exists(reference.Native("repair.cks")));
  ServerProcess again(Root(), {"--index", index});
  ASSERT_TRUE(again.Running());
  EXPECT_NE(again.Log().find("index reused"), std::string::npos) << again.Log();
}

}  // namespace
