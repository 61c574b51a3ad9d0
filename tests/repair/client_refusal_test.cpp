// Records the repair client refuses or drops: inconsistent flags, corrupt
// or oversized data, names that would leave the installation folder, and
// names of files the client never writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "client_test_support.h"

namespace {

using namespace RepairClientTest;
using NetTest::TestPeer;
using NolkPatch::NolkAgentClientTask;
using RepairTest::Installation;
using RepairTest::StdoutCapture;

std::string Text(const RepairTest::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Runs one exchange whose records the client should refuse: the run ends
// in the receiving state with result 3.
void ExpectRefused(const Installation& install, std::uint32_t total, const std::string& records,
                   const char* expectedMessage) {
  StdoutCapture output;
  ServerView view;
  TestPeer server(Serve(view, total, records));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  EXPECT_EQ(run.task.GetResult(), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(run.task.GetState(), NolkAgentClientTask::STATE_RECEIVING);
  EXPECT_FALSE(run.task.Succeeded());
  if (expectedMessage != nullptr) {
    EXPECT_NE(output.Text().find(expectedMessage), std::string::npos);
  }
}

TEST(ClientRefusalTest, MissingSegmentWithDataIsMismatched) {
  Installation install;
  install.Write("a.txt", std::string("kept"));
  ExpectRefused(install, 1, Record(false, L"a.txt#000", 0, "twelve bytes"),
                "NolkAgentClientTask::ReceiveFile> mismatched flags from server\n");
  EXPECT_EQ(Text(install.Read("a.txt")), "kept");
}

TEST(ClientRefusalTest, CompressedRecordWithoutDataIsMismatched) {
  Installation install;
  ExpectRefused(install, 1, Record(true, L"a.txt#000", 77, ""), "mismatched flags from server");
  EXPECT_FALSE(std::filesystem::exists(install.Native("a.txt")));
}

TEST(ClientRefusalTest, CorruptCompressedRecordIsNotWrittenAndFailsTheRun) {
  Installation install;
  install.Write("a.txt", std::string("kept"));
  std::string packed = Compressed(NetTest::PatternBytes(100000, 2));
  for (std::size_t at = 20; at < packed.size(); at += 7) packed[at] = static_cast<char>(packed[at] ^ 0x5A);
  // The corrupt record is the last one, so every record announced arrives.
  ExpectRefused(install, 2, RawRecord(L"b.txt#000", "fine") + Record(true, L"a.txt#000", 77, packed),
                "NolkAgentClientTask::ThreadedDecompress> error");
  EXPECT_EQ(Text(install.Read("a.txt")), "kept");
  EXPECT_EQ(Text(install.Read("b.txt")), "fine");
}

TEST(ClientRefusalTest, OversizedLengthsAreRefusedBeforeReading) {
  {
    Installation install;
    // Raw data one byte longer than a segment: only the header is sent.
    std::string header = Record(false, L"a.txt#000", 5, "");
    header.replace(header.size() - 4, 4, Le32(static_cast<std::uint32_t>(kSegment + 1)));
    ExpectRefused(install, 1, header, "exceeds one segment");
    EXPECT_FALSE(std::filesystem::exists(install.Native("a.txt")));
  }
  {
    Installation install;
    std::string header = Record(true, L"a.txt#000", 5, "");
    header.replace(header.size() - 4, 4, Le32(0xFFFFFFF0u));
    ExpectRefused(install, 1, header, "exceeds one segment");
  }
}

TEST(ClientRefusalTest, CompressedDataThatExpandsBeyondOneSegmentIsRefused) {
  Installation install;
  // Eight mebibytes of zeros pack into a few kilobytes.
  const std::string packed = Compressed(std::string(2 * kSegment, '\0'));
  ASSERT_LT(packed.size(), 100000u);
  ExpectRefused(install, 1, Record(true, L"big.bin#000", 5, packed), "ThreadedDecompress> error");
  EXPECT_FALSE(std::filesystem::exists(install.Native("big.bin")));
}

// Each hostile name in its own installation below a common parent, where a
// victim file stands that an escaping name would reach.
class EscapingNameTest : public ::testing::TestWithParam<std::wstring> {};

TEST_P(EscapingNameTest, NameLeavingTheFolderIsRefusedAndNothingOutsideChanges) {
  Installation outer;
  outer.Write("victim.txt", std::string("outside"));
  const std::filesystem::path inner = outer.Native("install");
  std::filesystem::create_directories(inner);
  // The client runs on the inner folder; the victim is one level up.
  ServerView view;
  // A deletion first (the worst an escaping name could do), then a write.
  const std::string records =
      MissingRecord(GetParam()) + RawRecord(GetParam(), "written by a hostile server");
  TestPeer server(Serve(view, 2, records));
  NolkAgentClientTask task;
  ASSERT_EQ(task.SetRootFolder(inner.wstring()), NOLKRESULT_OK);
  ASSERT_EQ(task.SetSummaryFile((inner / "repair.cks").wstring()), NOLKRESULT_OK);
  ASSERT_EQ(task.SetServerAddress(server.Address()), NOLKRESULT_OK);
  StdoutCapture output;
  task.Start();
  for (int waited = 0; task.IsBusy() && waited < 30000; waited += 5) std::this_thread::sleep_for(5ms);
  ASSERT_FALSE(task.IsBusy());
  EXPECT_EQ(task.GetResult(), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(task.GetReceivedCount(), 0u);
  EXPECT_NE(output.Text().find("refused unsafe name"), std::string::npos);
  EXPECT_EQ(Text(outer.Read("victim.txt")), "outside");
  // Nothing but the cache appeared anywhere below the common parent.
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(outer.Native("")))
    found.push_back(std::filesystem::relative(entry.path(), outer.Native("")).generic_string());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"install", "install/repair.cks", "victim.txt"}));
}

INSTANTIATE_TEST_SUITE_P(HostileNames, EscapingNameTest,
                         ::testing::Values(L"..\\victim.txt#000", L"../victim.txt#000",
                                           L"sub\\..\\..\\victim.txt#000", L"/tmp/victim.txt#000",
                                           L"\\victim.txt#000", L"C:victim.txt#000", L"a.txt:stream#000",
                                           std::wstring(L"a\0b.txt#000", 11), L"a.txt#-1", L"a.txt#1x",
                                           L"...\\victim.txt#000", L"#000"));

TEST(ClientRefusalTest, FilesTheClientNeverWritesAreReceivedButLeftAlone) {
  Installation install;
  install.Write("unins000.exe", std::string("uninstaller"));
  install.Write("KorvelPatch.journal", std::string("journal"));
  ServerView view;
  const std::string records =
      RawRecord(L"unins000.exe#000", "replaced") + RawRecord(L"UNINS000.EXE#000", "x") +
      RawRecord(L"repair.cks#000", "not a summary") + RawRecord(L".\\KorvelPatch.journal#000", "x") +
      MissingRecord(L"unins000.exe#000") + RawRecord(L"other.txt#000", "written");
  TestPeer server(Serve(view, 6, records));
  ClientRun run(install);
  ASSERT_TRUE(run.RunToEnd(server.Address()));
  EXPECT_TRUE(run.task.Succeeded());
  EXPECT_EQ(run.task.GetReceivedCount(), 6u);
  EXPECT_EQ(Text(install.Read("unins000.exe")), "uninstaller");
  EXPECT_EQ(Text(install.Read("KorvelPatch.journal")), "journal");
  EXPECT_EQ(Text(install.Read("other.txt")), "written");
  NolkPatch::FileTreeSummary cache;
  EXPECT_EQ(cache.LoadFromFile(install.Wide(L"repair.cks")), NOLKRESULT_OK);
  NolkPatch::SegmentEntry entry;
  EXPECT_TRUE(cache.Find(L"other.txt#000", entry));
  EXPECT_FALSE(cache.Find(L"unins000.exe#000", entry));
}

}  // namespace
