// Whole exchanges of the repair client with a scripted server on
// 127.0.0.1: what is written, cut and deleted, what the summary and its
// cache hold afterwards, and how the handshake fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "client_test_support.h"
#include "repair/FileTreeSummary.h"

namespace {

using namespace RepairClientTest;
using NetTest::TestPeer;
using NolkPatch::FileTreeSummary;
using NolkPatch::NolkAgentClientTask;
using NolkPatch::SegmentEntry;
using RepairTest::Installation;

std::string Text(const RepairTest::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ClientExchangeTest, ReplacesCutsAndDeletesAsTheServerSays) {
  Installation install;
  install.Write("data/a.txt", std::string("old text of a"));
  install.Write("gone.txt", std::string("the server has no such file"));
  const std::string bigFirst = NetTest::PatternBytes(kSegment, 3);
  install.Write("big.bin", bigFirst + NetTest::PatternBytes(kSegment / 4, 4));
  install.Write("unins000.exe", std::string("uninstaller"));

  const std::string newA = "new text of a, longer than before";
  const std::string added = NetTest::PatternBytes(300000, 5);
  const std::string shortLast = "short last segment";
  ServerView view;
  TestPeer server(Serve(view, 4,
                        RawRecord(L"data\\a.txt#000", newA) +
                            PackedRecord(L"sub\\dir\\added.bin#000", added) + MissingRecord(L"gone.txt#000") +
                            RawRecord(L"big.bin#000", shortLast)));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));

  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_OK);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_FINISHED);
  EXPECT_TRUE(run.task.Succeeded());
  EXPECT_EQ(run.task.GetReceivedCount(), 4u);
  EXPECT_FLOAT_EQ(run.task.GetProgress(), 1.0f);

  // The server saw protocol 6 and every local segment except the cache and
  // the uninstaller.
  EXPECT_EQ(view.protocol, 6u);
  ASSERT_TRUE(view.summaryComplete);
  EXPECT_EQ(view.summary.size(), 4u);
  EXPECT_TRUE(view.summary.count(L"big.bin#001"));
  EXPECT_FALSE(view.summary.count(L"unins000.exe#000"));
  EXPECT_FALSE(view.summary.count(L"repair.cks#000"));

  EXPECT_EQ(Text(install.Read("data/a.txt")), newA);
  EXPECT_EQ(Text(install.Read("sub/dir/added.bin")), added);
  EXPECT_FALSE(std::filesystem::exists(install.Native("gone.txt")));
  EXPECT_EQ(Text(install.Read("big.bin")), shortLast);

  // The summary and its cache hold the server's checksums and nothing of
  // the removed segments.
  FileTreeSummary cached;
  ASSERT_EQ(cached.LoadFromFile(install.Wide(L"repair.cks")), NOLKRESULT_OK);
  for (const FileTreeSummary* summary : {&run.task.Summary(), static_cast<const FileTreeSummary*>(&cached)}) {
    SegmentEntry entry;
    ASSERT_TRUE(summary->Find(L"data\\a.txt#000", entry));
    EXPECT_EQ(entry.checksum, Checksum(newA));
    ASSERT_TRUE(summary->Find(L"sub\\dir\\added.bin#000", entry));
    EXPECT_EQ(entry.checksum, Checksum(added));
    ASSERT_TRUE(summary->Find(L"big.bin#000", entry));
    EXPECT_EQ(entry.checksum, Checksum(shortLast));
    EXPECT_FALSE(summary->Find(L"big.bin#001", entry));
    EXPECT_FALSE(summary->Find(L"gone.txt#000", entry));
  }
}

TEST(ClientExchangeTest, ServerOfAnotherProtocolEndsTheRunWhileConnecting) {
  Installation install;
  install.Write("a.txt", std::string("a"));
  ServerView view;
  TestPeer server([&view](PeerConnection& connection) {
    Handshake(connection, view, 5);
    connection.WaitForEnd();
  });
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_WRONG_FORMAT);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_CONNECTING);
  EXPECT_FALSE(run.task.Succeeded());
}

TEST(ClientExchangeTest, NothingToReplaceFinishesAtOnce) {
  Installation install;
  install.Write("a.txt", std::string("a"));
  ServerView view;
  TestPeer server(Serve(view, 0, ""));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  EXPECT_TRUE(run.task.Succeeded());
  EXPECT_EQ(run.task.GetTotalCount(), 0u);
  EXPECT_EQ(Text(install.Read("a.txt")), "a");
}

TEST(ClientExchangeTest, NoServerListeningGivesTheConnectionsCode) {
  Installation install;
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(NetTest::ClosedPort()));
  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_REFUSED);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_CONNECTING);
}

TEST(ClientExchangeTest, SegmentsBeyondTwoGibibytesLandAtTheirOffset) {
  Installation install;
  // Segment 2 of a 1 MiB file: the file first grows with zeros to 8 MiB.
  install.Write("small.bin", NetTest::PatternBytes(1 << 20, 7));
  const std::string tail = NetTest::PatternBytes(1000, 8);
  const std::string middle = NetTest::PatternBytes(kSegment, 9);
  constexpr std::int64_t kFarIndex = 700;  // 2.73 GiB into the file
  ServerView view;
  TestPeer server(Serve(view, 2, RawRecord(L"small.bin#002", middle) + RawRecord(L"huge.bin#700", tail)));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  ASSERT_TRUE(run.task.Succeeded());

  EXPECT_EQ(std::filesystem::file_size(install.Native("small.bin")), 3 * kSegment);
  const RepairTest::Bytes small = install.Read("small.bin");
  EXPECT_EQ(small[(1 << 20) + 5], 0);
  EXPECT_EQ(std::string(small.begin() + 2 * kSegment, small.end()), middle);

  const std::uint64_t farOffset = std::uint64_t{kFarIndex} * kSegment;
  ASSERT_EQ(std::filesystem::file_size(install.Native("huge.bin")), farOffset + tail.size());
  std::ifstream huge(install.Native("huge.bin"), std::ios::binary);
  huge.seekg(static_cast<std::streamoff>(farOffset));
  std::string read(tail.size(), '\0');
  huge.read(read.data(), static_cast<std::streamsize>(read.size()));
  EXPECT_EQ(read, tail);
  SegmentEntry entry;
  ASSERT_TRUE(run.task.Summary().Find(L"huge.bin#700", entry));
  EXPECT_EQ(entry.checksum, Checksum(tail));
}

TEST(ClientExchangeTest, NamesAreKeptInCanonicalForm) {
  Installation install;
  const std::string bytes = "x";
  ServerView view;
  TestPeer server(Serve(view, 1, RawRecord(L"./folder//file.txt#0", bytes)));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  ASSERT_TRUE(run.task.Succeeded());
  EXPECT_EQ(Text(install.Read("folder/file.txt")), bytes);
  SegmentEntry entry;
  EXPECT_TRUE(run.task.Summary().Find(L"folder\\file.txt#000", entry));
  EXPECT_EQ(run.task.Summary().Count(), 1u);
}

TEST(ClientExchangeTest, ReconfiguredTaskRunsAgain) {
  Installation install;
  ServerView first;
  TestPeer server(Serve(first, 1, RawRecord(L"one.txt#000", "1")));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  ASSERT_TRUE(run.task.Succeeded());
  ServerView second;
  TestPeer again(Serve(second, 1, RawRecord(L"two.txt#000", "2")));
  ASSERT_TRUE(run.RunToEnd(again.Address()));
  ASSERT_TRUE(run.task.Succeeded());
  ASSERT_TRUE(second.summaryComplete);
  EXPECT_EQ(second.summary.count(L"one.txt#000"), 1u);
  EXPECT_EQ(Text(install.Read("two.txt")), "2");
}

}  // namespace
