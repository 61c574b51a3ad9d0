// ApplyPatch's added and deleted steps, the list checks that run before any
// change, the launcher ordering and the callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "TreeSnapshot.h"
#include "patch/PatchEngine.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchLists.h"

namespace {

using namespace enginetest;

class EngineStepsTest : public EngineTest {
 protected:
  // The name of the new file, the last argument of each logged tool call.
  std::vector<std::string> PatchedTargets() const {
    std::vector<std::string> targets;
    for (const std::string& call : ToolCalls()) {
      const std::size_t name = call.find_last_of("/\\");
      targets.push_back(call.substr(name + 1));
    }
    return targets;
  }
};

TEST_F(EngineStepsTest, AddsDeletesAndPatchesAndLeavesNoBackups) {
  InstallCopyingDiffTool();
  WriteInstalled("gone.txt", "old contents");
  WriteInstalled("keep.txt", "untouched");
  AddFile("maps\\desert\\dunes.map", "new map");
  RemoveFile("gone.txt");
  ChangeFile("bin\\game.dll", "version 1", "version 2");

  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("maps\\desert\\dunes.map")), "new map");
  EXPECT_FALSE(fs::exists(Installed("gone.txt")));
  EXPECT_EQ(ReadBytes(Installed("keep.txt")), "untouched");
  EXPECT_EQ(ReadBytes(Installed("bin\\game.dll")), "version 2");
  EXPECT_TRUE(TakeSnapshot(m_install).Backups().empty());
  EXPECT_EQ(m_totals, std::vector<unsigned>{3});
  EXPECT_TRUE(m_messages.empty()) << NolkUtil::ToNarrow(m_messages.front().second);
}

TEST_F(EngineStepsTest, MissingListFailsBeforeAnythingChanges) {
  for (const char* missing : {"addedFiles.txt", "deletedFiles.txt", "patchedFiles.txt"}) {
    SCOPED_TRACE(missing);
    m_messages.clear();
    AddFile("new.txt", "new");
    WriteInstalled("gone.txt", "old");
    RemoveFile("gone.txt");
    const TreeSnapshot before = TakeSnapshot(m_install);
    WriteLists();
    fs::remove(m_patch / missing);
    EXPECT_FALSE(NolkPatch::ApplyPatch(Wide(m_install), Wide(m_patch), L"NolkLauncher.exe"));
    EXPECT_EQ(TakeSnapshot(m_install), before);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0],
              std::make_pair(2, L"Could not open: " + Wide(m_patch) + L"\\" + NolkUtil::ToWide(missing) +
                                    L" for reading. The file might not be present"));
    EXPECT_TRUE(m_totals.empty());
    m_added.clear();
    m_deleted.clear();
  }
}

TEST_F(EngineStepsTest, OnlyTheFirstMissingListIsReported) {
  EXPECT_FALSE(NolkPatch::ApplyPatch(Wide(m_install), Wide(m_patch), L"NolkLauncher.exe"));
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_NE(m_messages[0].second.find(L"addedFiles.txt"), std::wstring::npos);
}

TEST_F(EngineStepsTest, EmptyListsAreValid) {
  ASSERT_TRUE(Apply());
  EXPECT_EQ(m_totals, std::vector<unsigned>{0});
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(EngineStepsTest, MalformedListFailsBeforeAnythingChanges) {
  AddFile("new.txt", "new");
  const TreeSnapshot before = TakeSnapshot(m_install);
  WriteLists();
  WriteBytes(m_patch / "patchedFiles.txt", "bin\\x.dll\r\n0123\r\n");
  EXPECT_FALSE(NolkPatch::ApplyPatch(Wide(m_install), Wide(m_patch), L"NolkLauncher.exe"));
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(HasMessage(2, L"Malformed file list: " + Wide(m_patch) + L"\\patchedFiles.txt"));
}

TEST_F(EngineStepsTest, UnsafePathInAnyListFailsBeforeAnythingChanges) {
  // A file beside the installation that a hostile list tries to reach.
  WriteBytes(m_root / "outside.txt", "not the game's");
  const std::vector<std::string> hostilePaths{"..\\outside.txt", "bin\\..\\..\\outside.txt",
                                              m_root.string() + "/outside.txt", "C:\\outside.txt", ""};
  for (const std::string& hostile : hostilePaths) {
    SCOPED_TRACE(hostile);
    m_added.clear();
    m_deleted.clear();
    m_messages.clear();
    AddFile("new.txt", "new");
    RemoveFile(hostile);
    const TreeSnapshot before = TakeSnapshot(m_install);
    EXPECT_FALSE(Apply());
    EXPECT_EQ(TakeSnapshot(m_install), before);
    EXPECT_EQ(ReadBytes(m_root / "outside.txt"), "not the game's");
    EXPECT_TRUE(HasMessage(2, L"Unsafe path in file list: " + NolkUtil::ToWide(hostile)));
  }
}

TEST_F(EngineStepsTest, UnsafeAddedPathCannotWriteOutside) {
  WriteBytes(m_patch / "evil.txt", "payload");
  m_added.push_back({L"..\\..\\evil.txt", NolkUtil::ToWide(Md5("payload")), L""});
  EXPECT_FALSE(Apply());
  EXPECT_FALSE(fs::exists(m_root.parent_path() / "evil.txt"));
  EXPECT_FALSE(fs::exists(m_root / "evil.txt"));
}

TEST_F(EngineStepsTest, LauncherIsPatchedLastAndOnlyTheFirstMatchMoves) {
  InstallCopyingDiffTool();
  ChangeFile("bin\\NolkLauncher.exe", "l1", "l2");
  ChangeFile("a.dll", "a1", "a2");
  ChangeFile("bin\\NolkLauncher.exe.cfg", "c1", "c2");
  ChangeFile("b.dll", "b1", "b2");
  ASSERT_TRUE(Apply());
  // Files other than the launcher may be rebuilt side by side, in any order.
  std::vector<std::string> targets = PatchedTargets();
  ASSERT_EQ(targets.size(), 4u) << testing::PrintToString(ToolCalls());
  EXPECT_EQ(targets.back(), "NolkLauncher.exe") << testing::PrintToString(ToolCalls());
  std::sort(targets.begin(), targets.end() - 1);
  EXPECT_EQ(targets, (std::vector<std::string>{"NolkLauncher.exe.cfg", "a.dll", "b.dll", "NolkLauncher.exe"}))
      << testing::PrintToString(ToolCalls());
}

TEST(HoldBackEntry, MovesTheFirstMatchToTheEnd) {
  using NolkPatch::FileListEntry;
  std::vector<FileListEntry> entries{{L"x\\NolkLauncher.exe", L"", L""},
                                     {L"a", L"", L""},
                                     {L"NolkLauncher.exe.bak", L"", L""},
                                     {L"b", L"", L""}};
  NolkPatch::HoldBackEntry(entries, L"NolkLauncher.exe");
  std::vector<std::wstring> order;
  for (const auto& entry : entries) order.push_back(entry.path);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"a", L"NolkLauncher.exe.bak", L"b", L"x\\NolkLauncher.exe"}));

  NolkPatch::HoldBackEntry(entries, L"");
  EXPECT_EQ(entries.back().path, L"x\\NolkLauncher.exe");
  NolkPatch::HoldBackEntry(entries, L"nolklauncher.exe");  // case-sensitive: no match
  EXPECT_EQ(entries.front().path, L"a");
}

TEST_F(EngineStepsTest, AlreadyRemovedFileIsAWarningOnly) {
  RemoveFile("bin\\gone.dll");
  ASSERT_TRUE(Apply());
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0],
            std::make_pair(1, L"File seems to have been removed already: " + Shown("bin\\gone.dll")));
  EXPECT_FALSE(fs::exists(Installed("bin\\gone.dll.pbk")));
}

TEST_F(EngineStepsTest, AddedFileReplacesAnExistingFileAndKeepsItUntilCommit) {
  WriteInstalled("bin\\tool.dll", "the user's copy");
  AddFile("bin\\tool.dll", "shipped copy");
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("bin\\tool.dll")), "shipped copy");
  EXPECT_FALSE(fs::exists(Installed("bin\\tool.dll.pbk")));
}

TEST_F(EngineStepsTest, AddedPathListedTwiceIsCopiedAndCommitted) {
  WriteInstalled("twice.txt", "before");
  AddFile("twice.txt", "after");
  m_added.push_back(m_added.back());
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("twice.txt")), "after");
  EXPECT_TRUE(TakeSnapshot(m_install).Backups().empty());
}

TEST_F(EngineStepsTest, CopiedFileWithWrongChecksumRollsBack) {
  WriteInstalled("bin\\tool.dll", "the user's copy");
  AddFile("first.txt", "first");
  AddFile("bin\\tool.dll", "shipped copy");
  m_added.back().newChecksum = NolkUtil::ToWide(Md5("something else"));
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before) << DescribeDifferences(before, TakeSnapshot(m_install));
  EXPECT_TRUE(HasMessage(2, L"Checksum mismatch after copying: " + Shown("bin\\tool.dll")));
  EXPECT_TRUE(HasMessage(0, L"Failed adding: bin\\tool.dll..."));
}

TEST_F(EngineStepsTest, MissingSourceFailsTheCopy) {
  AddFile("a.txt", "a");
  AddFile("sub\\b.txt", "b");
  fs::remove(PatchData("sub\\b.txt"));
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before) << DescribeDifferences(before, TakeSnapshot(m_install));
  EXPECT_TRUE(HasMessageStarting(2, L"Could not copy the file: " + Shown("sub\\b.txt") + L": "));
  EXPECT_TRUE(HasMessage(0, L"Failed adding: sub\\b.txt..."));
}

TEST_F(EngineStepsTest, FolderThatCannotBeCreatedFailsTheEntry) {
  WriteInstalled("maps", "a file where a folder should be");
  AddFile("maps\\m1.map", "map");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(HasMessageStarting(2, L"Could not create the directory: " + Shown("maps") + L": "));
  EXPECT_TRUE(HasMessage(0, L"Failed adding: maps\\m1.map..."));
}

TEST_F(EngineStepsTest, StepCallbackStopsTheRunWithoutMessage) {
  InstallCopyingDiffTool();
  AddFile("a.txt", "a");
  WriteInstalled("gone.txt", "old");
  RemoveFile("gone.txt");
  ChangeFile("x.dll", "x1", "x2");
  const TreeSnapshot before = TakeSnapshot(m_install);
  for (int allowed = 0; allowed < 3; ++allowed) {
    SCOPED_TRACE(allowed);
    int calls = 0;
    NolkPatch::PatchEngineCallbacks callbacks = NolkPatch::GetPatchEngineCallbacks();
    callbacks.step = [&calls, allowed] { return calls++ < allowed; };
    NolkPatch::SetPatchEngineCallbacks(callbacks);
    m_messages.clear();
    EXPECT_FALSE(Apply());
    EXPECT_EQ(calls, allowed + 1);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(TakeSnapshot(m_install), before);
  }
}

TEST_F(EngineStepsTest, EnginePathsAreStoredForTheRun) {
  ASSERT_TRUE(Apply());
  EXPECT_EQ(NolkPatch::EngineInstallFolder(), Wide(m_install));
  EXPECT_EQ(NolkPatch::EnginePatchFolder(), Wide(m_patch));
}

}  // namespace
