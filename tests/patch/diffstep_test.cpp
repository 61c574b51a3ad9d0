// The patched step: checksum checks, backups, the choice of tool and diff,
// the tool's command line and folder, and every exit code.
#include "patch/DiffStep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "TreeSnapshot.h"

namespace {

using namespace enginetest;

class DiffStepTest : public EngineTest {};

// "<separator>name" as a tool's logged path ends.
std::string InToolsFolder(const std::string& name) {
  return std::string(1, static_cast<char>(fs::path::preferred_separator)) + name;
}

TEST_F(DiffStepTest, AlreadyPatchedFileIsLeftAloneWithoutBackup) {
  InstallCopyingDiffTool();
  ChangeFile("bin\\game.dll", "v1", "v2");
  WriteInstalled("bin\\game.dll", "v2");
  const TreeSnapshot before = TakeSnapshot(m_install);
  ASSERT_TRUE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(ToolCalls().empty());
  ASSERT_EQ(m_messages.size(), 1u);
  EXPECT_EQ(m_messages[0], std::make_pair(1, L"Existing file appears to have been patched already: " +
                                                 Shown("bin\\game.dll")));
}

TEST_F(DiffStepTest, DamagedFileRollsBackAddedAndDeletedFiles) {
  InstallCopyingDiffTool();
  AddFile("new\\added.txt", "added");
  WriteInstalled("gone.txt", "to be deleted");
  RemoveFile("gone.txt");
  ChangeFile("a.dll", "a1", "a2");
  ChangeFile("b.dll", "b1", "b2");
  WriteInstalled("b.dll", "modified by someone");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before) << DescribeDifferences(before, TakeSnapshot(m_install));
  EXPECT_TRUE(HasMessage(2, L"Existing file is damaged and cannot be patched: " + Shown("b.dll")));
}

TEST_F(DiffStepTest, MissingInstalledFileCannotBeChecksummed) {
  InstallCopyingDiffTool();
  ChangeFile("a.dll", "a1", "a2");
  fs::remove(Installed("a.dll"));
  EXPECT_FALSE(Apply());
  EXPECT_TRUE(HasMessage(2, L"Failed to compute the checksum for existing file: " + Shown("a.dll")));
  EXPECT_FALSE(fs::exists(Installed("a.dll.pbk")));
}

// A backup that no run accounts for may be the only copy of something: it
// is never deleted, and the run stops before it changes anything.
TEST_F(DiffStepTest, UnexplainedBackupIsKeptAndStopsTheRun) {
  InstallCopyingDiffTool();
  ChangeFile("bin\\game.dll", "v1", "v2");
  WriteInstalled("bin\\game.dll.pbk", "left over from long ago");
  EXPECT_FALSE(Apply());
  EXPECT_EQ(ReadBytes(Installed("bin\\game.dll")), "v1");
  EXPECT_EQ(ReadBytes(Installed("bin\\game.dll.pbk")), "left over from long ago");
  EXPECT_TRUE(HasMessage(2, L"A backup file left by another patch run is in the way; it was left in place: " +
                                Shown("bin\\game.dll.pbk")));
}

TEST_F(DiffStepTest, ToolGetsBackupDiffAndTargetAndRunsInTheToolsFolder) {
  InstallCopyingDiffTool();
  ChangeFile("data\\maps\\m.map", "m1", "m2");
  ASSERT_TRUE(Apply());
  const std::vector<std::string> calls = ToolCalls();
  ASSERT_EQ(calls.size(), 1u);
  const std::string installed = Installed("data\\maps\\m.map").string();
  EXPECT_EQ(calls[0], (m_install / "bin").string() + "|" + (m_install / "bin" / "vpatchl-w32.exe").string() +
                          "|" + installed + ".pbk " + PatchData("data\\maps\\m.map").string() + ".diff " +
                          installed);
}

TEST_F(DiffStepTest, VaArchiveUsesTheConverterWithoutChecksumChecks) {
  InstallCopyingDiffTool();
  InstallCopyingConverter();
  ChangeFile("assets\\Base.va", "archive 1", "archive 2");
  WriteInstalled("assets\\Base.va", "archive 1 as changed by the game");
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("assets\\Base.va")), "archive 2");
  const std::vector<std::string> calls = ToolCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find(InToolsFolder("VAConverter.exe|patchapply ")), std::string::npos) << calls[0];
  EXPECT_NE(calls[0].find(PatchData("assets\\Base-diff.va").string() + " "), std::string::npos) << calls[0];
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(DiffStepTest, VaArchiveThatIsAlreadyNewIsNotRebuilt) {
  InstallCopyingConverter();
  ChangeFile("assets\\Base.va", "archive 1", "archive 2");
  WriteInstalled("assets\\Base.va", "archive 2");
  ASSERT_TRUE(Apply());
  EXPECT_TRUE(ToolCalls().empty());
  EXPECT_TRUE(
      HasMessage(1, L"Existing file appears to have been patched already: " + Shown("assets\\Base.va")));
  EXPECT_FALSE(fs::exists(Installed("assets\\Base.va.pbk")));
}

TEST_F(DiffStepTest, VaArchiveWithoutConverterIsAGeneralEntry) {
  InstallCopyingDiffTool();
  ChangeFile("assets\\Base.va", "archive 1", "archive 2");
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("assets\\Base.va")), "archive 2");
  const std::vector<std::string> calls = ToolCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find(InToolsFolder("vpatchl-w32.exe|")), std::string::npos);
  EXPECT_NE(calls[0].find(PatchData("assets\\Base.va").string() + ".diff "), std::string::npos);
  // As a general entry it is checked: a changed archive is damaged.
  WriteInstalled("assets\\Base.va", "something else");
  EXPECT_FALSE(Apply());
  EXPECT_TRUE(HasMessage(2, L"Existing file is damaged and cannot be patched: " + Shown("assets\\Base.va")));
}

TEST_F(DiffStepTest, OnlyAVaAtTheVeryEndOfTheNameIsAConverterEntry) {
  InstallCopyingDiffTool();
  InstallCopyingConverter();
  ChangeFile("x.var.va", "x1", "x2");
  ChangeFile("Upper.VA", "u1", "u2");
  ChangeFile("va.dir\\plain.dat", "p1", "p2");
  ASSERT_TRUE(Apply());
  for (const std::string& call : ToolCalls())
    EXPECT_NE(call.find(InToolsFolder("vpatchl-w32.exe|")), std::string::npos) << call;
  EXPECT_EQ(ToolCalls().size(), 3u);
}

TEST(ConverterName, FirstVaMustEndTheName) {
  EXPECT_TRUE(NolkPatch::HasConverterName(L"Base.va"));
  EXPECT_TRUE(NolkPatch::HasConverterName(L".va"));
  EXPECT_FALSE(NolkPatch::HasConverterName(L"x.var.va"));
  EXPECT_FALSE(NolkPatch::HasConverterName(L"Base.VA"));
  EXPECT_FALSE(NolkPatch::HasConverterName(L"Base.vax"));
  EXPECT_FALSE(NolkPatch::HasConverterName(L"va"));
  EXPECT_FALSE(NolkPatch::HasConverterName(L""));
}

TEST_F(DiffStepTest, PlanNamesTheConverterDiffBesideTheArchive) {
  InstallCopyingConverter();
  const NolkPatch::PatchedEntryPlan plan =
      NolkPatch::PlanPatchedEntry(Wide(m_install), Wide(m_patch), {L"data\\sub\\World.va", L"", L""});
  EXPECT_TRUE(plan.converter);
  EXPECT_EQ(plan.target, Target("data\\sub\\World.va"));
  EXPECT_EQ(plan.backup, Target("data\\sub\\World.va.pbk"));
  EXPECT_EQ(plan.diff, Source("data\\sub\\World-diff.va"));
  EXPECT_EQ(NolkPatch::CommandLineOf(plan.tool), Wide(m_install) + L"\\bin\\VAConverter.exe patchapply \"" +
                                                     plan.backup + L"\" \"" + plan.diff + L"\" \"" +
                                                     plan.target + L"\"");
  EXPECT_EQ(plan.tool.folder, Wide(m_install) + L"\\bin\\");
}

TEST_F(DiffStepTest, ToolsFolderGetsNoSecondSeparator) {
  const NolkPatch::PatchedEntryPlan plan =
      NolkPatch::PlanPatchedEntry(Wide(m_install) + L"\\", Wide(m_patch), {L"a.dll", L"", L""});
  EXPECT_EQ(plan.tool.program, Wide(m_install) + L"\\bin\\vpatchl-w32.exe");
  EXPECT_EQ(plan.diff, Source("a.dll.diff"));
}

TEST_F(DiffStepTest, ToolThatCannotStartReportsTheCommandLine) {
  ChangeFile("a.dll", "a1", "a2");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before);
  const std::wstring target = Target("a.dll");
  EXPECT_TRUE(HasMessage(0, L"Failed patch command: " + Wide(m_install) + L"\\bin\\vpatchl-w32.exe \"" +
                                target + L".pbk\" \"" + Source("a.dll") + L".diff\" \"" + target + L"\""));
}

TEST_F(DiffStepTest, WrongResultIsCaughtAndRolledBack) {
  InstallScriptedTool("vpatchl-w32.exe", {"write 3 garbage"});
  ChangeFile("a.dll", "a1", "a2");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(HasMessage(2, L"Checksum mismatch after patching: " + Shown("a.dll")));
}

TEST_F(DiffStepTest, WrongConverterResultIsCaughtToo) {
  InstallScriptedTool("VAConverter.exe", {"write 4 garbage"});
  ChangeFile("Base.va", "a1", "a2");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(HasMessage(2, L"Checksum mismatch after patching: " + Shown("Base.va")));
}

TEST_F(DiffStepTest, ChattyToolDoesNotBlock) {
  // Far more output than a pipe holds.
  InstallScriptedTool("vpatchl-w32.exe", {"zeros 1000000", "copy 2 3 4"});
  ChangeFile("a.dll", "a1", "a2");
  ASSERT_TRUE(Apply());
  EXPECT_EQ(ReadBytes(Installed("a.dll")), "a2");
}

struct ExitCase {
  int code;
  bool converter;
  std::wstring message;  // "%p" stands for the entry's path
};

class ToolExitCodeTest : public EngineTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ToolExitCodeTest, NonZeroExitFailsWithItsMessageAndRollsBack) {
  const ExitCase& exitCase = GetParam();
  const std::string entry = exitCase.converter ? "assets\\World.va" : "bin\\game.dll";
  InstallScriptedTool(exitCase.converter ? "VAConverter.exe" : "vpatchl-w32.exe",
                      {"exit " + std::to_string(exitCase.code)});
  AddFile("added.txt", "added");
  ChangeFile(entry, "old", "new");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(Apply());
  EXPECT_EQ(TakeSnapshot(m_install), before) << DescribeDifferences(before, TakeSnapshot(m_install));
  std::wstring expected = exitCase.message;
  const std::size_t placeholder = expected.find(L"%p");
  if (placeholder != std::wstring::npos) expected.replace(placeholder, 2, NolkUtil::ToWide(entry));
  ASSERT_FALSE(m_messages.empty());
  EXPECT_EQ(m_messages.back(), std::make_pair(2, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToolExitCodeTest,
    ::testing::Values(ExitCase{1, false, L"Not enough Argument Specified to patch the file"},
                      ExitCase{2, false, L"Could not open data file %p for reading."},
                      ExitCase{3, false, L"Could not open patch file %p for reading."},
                      ExitCase{4, false, L"Could not open output file for writing."},
                      ExitCase{5, false, L"An unknown error (5) occurred while patching file %p"},
                      ExitCase{6, false, L"An unknown error (6) occurred while patching file %p"},
                      ExitCase{7, false, L"An unknown error (7) occurred while patching file %p"},
                      ExitCase{1, true, L"Failed to patch %p, file contents do not match"},
                      ExitCase{2, true, L"Could not open data file %p for reading."},
                      ExitCase{3, true, L"Could not open patch file %p for reading."},
                      ExitCase{4, true, L"Could not open output file for writing."},
                      ExitCase{7, true, L"An unknown error (7) occurred while patching file %p"}),
    [](const ::testing::TestParamInfo<ExitCase>& info) {
      return std::string(info.param.converter ? "Converter" : "General") + std::to_string(info.param.code);
    });

}  // namespace
