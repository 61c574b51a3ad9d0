// Reading the patch folder's file lists and judging their paths.
#include "patch/FileList.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

using NolkPatch::FileListEntry;
using NolkPatch::FileListResult;
namespace fs = std::filesystem;

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel-filelist-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
  }
  void TearDown() override { fs::remove_all(m_root); }

  FileListResult Read(const std::string& bytes) {
    enginetest::WriteBytes(m_root / "list.txt", bytes);
    return NolkPatch::ReadFileList(enginetest::Wide(m_root / "list.txt"), m_entries);
  }

  fs::path m_root;
  std::vector<FileListEntry> m_entries;
};

bool SameEntry(const FileListEntry& entry, const std::wstring& path, const std::wstring& newSum,
               const std::wstring& oldSum) {
  return entry.path == path && entry.newChecksum == newSum && entry.oldChecksum == oldSum;
}

TEST_F(FileListTest, EveryLineEndGivesTheSameEntries) {
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    const std::string text =
        "bin\\a.dll" + end + "new1" + end + "old1" + end + "b.txt" + end + "new2" + end + end;
    ASSERT_EQ(Read(text), NolkPatch::FILELIST_OK);
    ASSERT_EQ(m_entries.size(), 2u);
    EXPECT_TRUE(SameEntry(m_entries[0], L"bin\\a.dll", L"new1", L"old1"));
    EXPECT_TRUE(SameEntry(m_entries[1], L"b.txt", L"new2", L""));
  }
}

TEST_F(FileListTest, MixedLineEndsAndNoFinalLineEnd) {
  ASSERT_EQ(Read("a\r\nb\nc\rd\r\n\n\re\n\nf"), NolkPatch::FILELIST_OK);
  ASSERT_EQ(m_entries.size(), 3u);
  EXPECT_TRUE(SameEntry(m_entries[0], L"a", L"b", L"c"));
  EXPECT_TRUE(SameEntry(m_entries[1], L"d", L"", L""));
  EXPECT_TRUE(SameEntry(m_entries[2], L"e", L"", L"f"));
}

TEST_F(FileListTest, CarriageReturnThenLineFeedIsOneLineEnd) {
  // "\r\n" ends one line; "\n\r" ends two.
  EXPECT_EQ(NolkPatch::SplitListLines("a\r\nb"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(NolkPatch::SplitListLines("a\n\rb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(NolkPatch::SplitListLines("a\r"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(NolkPatch::SplitListLines("\n"), (std::vector<std::string>{""}));
}

TEST_F(FileListTest, EmptyFileHasNoEntries) {
  m_entries.push_back({L"stale", L"", L""});
  EXPECT_EQ(Read(""), NolkPatch::FILELIST_OK);
  EXPECT_TRUE(m_entries.empty());
}

TEST_F(FileListTest, MissingFileCannotBeOpened) {
  EXPECT_EQ(NolkPatch::ReadFileList(enginetest::Wide(m_root / "absent.txt"), m_entries),
            NolkPatch::FILELIST_CANNOT_OPEN);
}

TEST_F(FileListTest, PartialGroupIsReportedAndKeepsTheWholeGroups) {
  EXPECT_EQ(Read("a\r\n1\r\n2\r\nb\r\n3\r\n"), NolkPatch::FILELIST_PARTIAL_GROUP);
  ASSERT_EQ(m_entries.size(), 1u);
  EXPECT_TRUE(SameEntry(m_entries[0], L"a", L"1", L"2"));
  EXPECT_EQ(Read("lonely"), NolkPatch::FILELIST_PARTIAL_GROUP);
  EXPECT_TRUE(m_entries.empty());
}

TEST_F(FileListTest, EightBitTextIsWidened) {
  ASSERT_EQ(Read("Caf\x96.txt\n\n\n"), NolkPatch::FILELIST_OK);
  ASSERT_EQ(m_entries.size(), 1u);
  EXPECT_EQ(m_entries[0].path, L"Caf\u2013.txt");
}

TEST_F(FileListTest, LargeListIsReadBeyondOneChunk) {
  std::string text;
  for (int index = 0; index < 5000; ++index) {
    text += "data\\file" + std::to_string(index) + ".bin\r\n0123456789abcdef0123456789abcdef\r\n\r\n";
  }
  ASSERT_GT(text.size(), 64u * 1024u);
  ASSERT_EQ(Read(text), NolkPatch::FILELIST_OK);
  ASSERT_EQ(m_entries.size(), 5000u);
  EXPECT_EQ(m_entries.back().path, L"data\\file4999.bin");
}

TEST_F(FileListTest, FailingReadIsNotMistakenForTheEnd) {
  enginetest::WriteBytes(m_root / "list.txt", "a\r\nb\r\nc\r\n");
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "ReadStream";
  rule.pathContains = "list.txt";
  faults.Add(rule);
  EXPECT_EQ(NolkPatch::ReadFileList(enginetest::Wide(m_root / "list.txt"), m_entries),
            NolkPatch::FILELIST_READ_FAILED);
}

TEST(ListPathSafety, PathsInsideTheFolderAreSafe) {
  for (const wchar_t* path :
       {L"a.txt", L"bin\\x.dll", L"data/maps/m.map", L"a\\.\\b", L"..a\\b..", L"x...y"}) {
    EXPECT_TRUE(NolkPatch::IsSafeListPath(path)) << testing::PrintToString(std::wstring(path));
  }
}

TEST(ListPathSafety, PathsThatLeaveTheFolderAreUnsafe) {
  const std::wstring unsafe[] = {L"",
                                 L"..",
                                 L"..\\x",
                                 L"bin\\..\\..\\x",
                                 L"bin/../../x",
                                 L"\\etc\\x",
                                 L"/etc/passwd",
                                 L"C:\\x",
                                 L"c:x",
                                 L"a\\b\\..",
                                 L"bin\\",
                                 L"bin\\.",
                                 L"a\nb",
                                 std::wstring(L"..\0x", 4),
                                 L"x.txt:ads"};
  for (const std::wstring& path : unsafe) {
    EXPECT_FALSE(NolkPatch::IsSafeListPath(path)) << testing::PrintToString(path);
  }
}

}  // namespace
