// Folder creation, removal and listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/fileutil_testfolder.h"
#include "tests/KernelStandard/linux_only.h"

using fileutil_test::TestFolder;
namespace fs = std::filesystem;

namespace {

class CollectingLogObserver : public NolkSystemLogObserver {
 public:
  CollectingLogObserver() { RegisterSystemLogObserver(this); }
  ~CollectingLogObserver() override { UnregisterSystemLogObserver(this); }
  void OnLogText(const std::wstring& text) override { m_text += text; }
  const std::wstring& Text() const { return m_text; }

 private:
  std::wstring m_text;
};

OS::FaultRule Fail(const std::string& operation, const std::string& pathContains, int error = 5) {
  OS::FaultRule rule;
  rule.operation = operation;
  rule.pathContains = pathContains;
  rule.error = error;
  return rule;
}

// Bare entry names in the order the platform lists them.
std::vector<std::wstring> ListingOrder(const std::wstring& folder) {
  std::vector<OS::DirEntry> entries;
  OS::Current().ListDirectory(folder, entries);
  std::vector<std::wstring> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

}  // namespace

TEST(FileUtilMakeDirectory, CreatesEveryMissingParent) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.MakeFolder("a");
  EXPECT_TRUE(NolkUtil::MakeDirectory(root.Wide(L"a\\b\\c\\")));
  EXPECT_TRUE(fs::is_directory(root.Native("a/b/c")));
  EXPECT_TRUE(NolkUtil::MakeDirectory(root.Wide(L"a/b/c")));  // already there
}

TEST(FileUtilMakeDirectory, ExistingFileGivesErrorFileExists) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("taken", "x");
  OS::SetLastError(0);
  EXPECT_FALSE(NolkUtil::MakeDirectory(root.Wide(L"taken\\")));
  EXPECT_EQ(OS::GetLastError(), 80);
  EXPECT_EQ(root.ReadFile("taken"), "x");
  // A file in the middle of the chain stops the creation below it.
  EXPECT_FALSE(NolkUtil::MakeDirectory(root.Wide(L"taken\\sub")));
  EXPECT_EQ(OS::GetLastError(), 80);
}

TEST(FileUtilMakeDirectory, EmptyPathFails) {
  EXPECT_FALSE(NolkUtil::MakeDirectory(L""));
}

TEST(FileUtilMakeDirectory, FailedCreationIsLoggedAndStopsTheChain) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  CollectingLogObserver log;
  OS::ScopedFaults faults;
  faults.Add(Fail("CreateDirectory", "first", 5));
  EXPECT_FALSE(NolkUtil::MakeDirectory(root.Wide(L"first\\second\\third")));
  EXPECT_EQ(OS::GetLastError(), 5);
  EXPECT_EQ(faults.Calls("CreateDirectory"), 1);
  EXPECT_FALSE(root.Exists("first"));
  EXPECT_NE(log.Text().find(L"MakeDirectory> CreateDirectoryW returned err 5"), std::wstring::npos);
}

TEST(FileUtilRemoveDirectoryTree, RemovesNestedFoldersAndFiles) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("tree/a.txt", "a");
  root.WriteFile("tree/sub/b.txt", "b");
  root.WriteFile("tree/sub/deeper/c.txt", "c");
  root.MakeFolder("tree/empty");
  EXPECT_TRUE(NolkUtil::RemoveDirectoryTree(root.Wide(L"tree")));
  EXPECT_FALSE(root.Exists("tree"));
}

TEST(FileUtilRemoveDirectoryTree, EmptyOrMissingFolderFails) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  EXPECT_FALSE(NolkUtil::RemoveDirectoryTree(L""));
  EXPECT_FALSE(NolkUtil::RemoveDirectoryTree(root.Wide(L"missing")));
}

TEST(FileUtilRemoveDirectoryTree, UndeletableFileRemainsWithItsFolder) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("tree/one.txt", "1");
  root.WriteFile("tree/keepme.txt", "k");
  root.WriteFile("tree/two.txt", "2");
  root.WriteFile("tree/sub/three.txt", "3");
  OS::ScopedFaults faults;
  faults.Add(Fail("DeleteFile", "keepme"));
  EXPECT_FALSE(NolkUtil::RemoveDirectoryTree(root.Wide(L"tree")));
  EXPECT_EQ(root.ReadFile("tree/keepme.txt"), "k");
  EXPECT_FALSE(root.Exists("tree/one.txt"));
  EXPECT_FALSE(root.Exists("tree/two.txt"));
  EXPECT_FALSE(root.Exists("tree/sub"));
}

TEST(FileUtilRemoveDirectoryTree, StuckSubfolderAbandonsTheListing) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  for (const char* name : {"f1", "f2", "f3", "f4", "f5", "f6"})
    root.WriteFile(std::string("tree/") + name, name);
  root.WriteFile("tree/stuck/inner.txt", "i");
  const std::vector<std::wstring> order = ListingOrder(root.Wide(L"tree"));
  const auto stuck = std::find(order.begin(), order.end(), L"stuck");
  ASSERT_NE(stuck, order.end());

  OS::ScopedFaults faults;
  faults.Add(Fail("RemoveDirectory", "stuck"));
  EXPECT_FALSE(NolkUtil::RemoveDirectoryTree(root.Wide(L"tree")));
  EXPECT_TRUE(fs::is_directory(root.Native("tree/stuck")));
  EXPECT_FALSE(root.Exists("tree/stuck/inner.txt"));  // its own contents went before the failure
  for (auto it = order.begin(); it != stuck; ++it)
    EXPECT_FALSE(root.Exists("tree/" + fs::path(*it).string()));
  for (auto it = stuck + 1; it != order.end(); ++it)
    EXPECT_TRUE(root.Exists("tree/" + fs::path(*it).string()));
}

TEST(FileUtilRemoveDirectoryTree, SymbolicLinkToAFolderIsNotFollowed) {
  KORVEL_LINUX_ONLY("Windows programs need a privilege to make symbolic links, and Wine makes none");
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("outside/precious.txt", "p");
  root.MakeFolder("tree");
  fs::create_directory_symlink(root.Native("outside"), root.Native("tree/link"));
  EXPECT_TRUE(NolkUtil::RemoveDirectoryTree(root.Wide(L"tree")));
  EXPECT_FALSE(root.Exists("tree"));
  EXPECT_EQ(root.ReadFile("outside/precious.txt"), "p");
}

TEST(FileUtilRemoveDirectoryTree, NamesWithoutEightBitFormAreRemovedToo) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("tree/\xd0\x96.txt", "zh");  // U+0416 in UTF-8
  EXPECT_TRUE(NolkUtil::RemoveDirectoryTree(root.Wide(L"tree")));
  EXPECT_FALSE(root.Exists("tree"));
}

TEST(FileUtilListDirectory, GivesFullPathsOfFilesAndFolders) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("list/b.txt", "b");
  root.WriteFile("list/a.txt", "a");
  root.MakeFolder("list/sub");
  std::set<std::wstring> entries = {L"stale"};
  ASSERT_EQ(NolkUtil::ListDirectory(root.Wide(L"list"), entries), NOLKRESULT_OK);
  const std::wstring folder = NolkUtil::NormalizeSeparators(root.Wide(L"list"));
  const std::set<std::wstring> expected = {NolkUtil::JoinPath(folder, L"a.txt"),
                                           NolkUtil::JoinPath(folder, L"b.txt"),
                                           NolkUtil::JoinPath(folder, L"sub")};
  EXPECT_EQ(entries, expected);
  for (const auto& entry : entries) EXPECT_TRUE(NolkUtil::FileExists(entry));
}

TEST(FileUtilListDirectory, MissingFolderGivesCannotList) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  std::set<std::wstring> entries = {L"stale"};
  EXPECT_EQ(NolkUtil::ListDirectory(root.Wide(L"missing"), entries), NOLKRESULT_CANNOT_LIST);
  EXPECT_TRUE(entries.empty());
}

TEST(FileUtilMakeTempFileName, ConsecutiveCallsCountUp) {
  const std::wstring first = NolkUtil::MakeTempFileName(L"C:\\temp");
  const std::wstring second = NolkUtil::MakeTempFileName(L"C:\\temp");
  const std::wstring prefix = L"C:\\temp/file";
  ASSERT_EQ(first.compare(0, prefix.size(), prefix), 0);
  ASSERT_EQ(second.compare(0, prefix.size(), prefix), 0);
  const unsigned long a = std::stoul(first.substr(prefix.size()));
  const unsigned long b = std::stoul(second.substr(prefix.size()));
  EXPECT_EQ(static_cast<std::uint32_t>(a + 1), b);
  EXPECT_EQ(NolkUtil::MakeTempFileName(L"").rfind(L"file", 0), 0u);
}
