// Standalone patches applied by the real console program, end to end.
#include <gtest/gtest.h>

#include "standalone_test_support.h"

namespace {

using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr char kCompleted[] = "Patching completed.";
constexpr char kAborted[] = "Patching aborted.";
constexpr char kDiskUnknown[] =
    "Patch installer is unable to determine whether sufficient disk space is available for this "
    "installation. Patching may fail if insufficient disk space is available.";

class OneStepRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    MakeTree("39979", {{"data/maps/forest.map", std::string(30000, 'f')},
                       {"data/old/obsolete.dat", "removed by 40040"},
                       {"readme.txt", "unchanged"}});
    MakeTree("40040", {{"data/maps/forest.map", std::string(30000, 'f') + "more trees"},
                       {"data/maps/desert.map", "new in 40040"},
                       {"readme.txt", "unchanged"}});
    std::filesystem::create_directories(TreePath("40040") / "data" / "old");  // files go, folders stay
    Package("40040", {"39979"}, {{"39979", "40040"}});
    InstallCopyOf("39979");
    RegisterInstall();
  }
};

TEST_F(OneStepRun, BringsTheInstallationToTheFinalVersion) {
  const RunResult result = RunPackaged();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(
      result.Contains("Ready to install from local patch file.\nCurrent version: 39979.\n"
                      "Target version: 40040.\n\n"))
      << result.output;
  EXPECT_TRUE(result.Contains("Patching from 39979 to 40040.\n")) << result.output;
  EXPECT_TRUE(result.Contains("OmbrixUtil: output line 1")) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
  EXPECT_TRUE(std::filesystem::exists(Install() / "assets.odx"));
  EXPECT_EQ(app_test::ReadFile(m_folder / "registry.reg").find("IsPatching"), std::string::npos);
  // Neither the extracted archive (it is inside the program) nor the unpack
  // folder stays in the temporary root.
  EXPECT_FALSE(std::filesystem::exists(m_folder / "temp" / "39979_to_40040.zip"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folder / "temp"))
    EXPECT_TRUE(entry.is_directory()) << "left in the temporary root: " << entry.path();
}

TEST_F(OneStepRun, LowDiskSpaceStopsBeforeAnythingChanges) {
  const Tree before = TakeTree(Install());
  const RunResult result =
      RunPackaged({"KORVEL_FAULTS=GetFreeBytes:value=" + std::to_string(4095ull * 1048576)});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Contains("Checking for available disk space for patching.\n")) << result.output;
  EXPECT_TRUE(
      result.Contains("Insufficient disk space available for patching. Please ensure that at least "
                      "4096MB are available.\n"))
      << result.output;
  EXPECT_FALSE(result.Contains("Patching from")) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kAborted);
  ExpectInstallEquals(before);
}

TEST_F(OneStepRun, UnreadableDiskSpaceWarnsAndTheRunGoesOn) {
  const RunResult result = RunPackaged({"KORVEL_FAULTS=GetFreeBytes:error=5"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains(kDiskUnknown)) << result.output;
  EXPECT_TRUE(result.Contains("Patching from 39979 to 40040.")) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
}

// The folder named on the command line is the one examined and patched;
// when it is not an installation (here its bin folder), the console offers
// it once more as if it had been picked in the file dialog.
TEST_F(OneStepRun, FolderFromTheCommandLineStandsInForTheDialog) {
  std::filesystem::remove(m_folder / "registry.reg");
  const RunResult result = RunPackaged({}, "0 '" + (Install() / "bin").string() + "'");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Unable to determine the version number of your Ombrix installation."))
      << result.output;
  EXPECT_TRUE(result.Contains("Current version: 39979.")) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
}

TEST_F(OneStepRun, WithoutRegistryOrFolderTheRunIsCancelled) {
  std::filesystem::remove(m_folder / "registry.reg");
  const Tree before = TakeTree(Install());
  const RunResult result = RunPackaged();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(
      result.Contains("Unable to determine installation location. Aborted patching at user's request.\n"))
      << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), "No valid patch operation was specified. Patching aborted.");
  ExpectInstallEquals(before);
}

// 100 -> 200 -> 300, where the installation's copy of a file that only the
// second patch changes is not the one that patch was made from: the second
// patch is rolled back and version 200 stays.
TEST_F(StandaloneRunTest, FailureInTheSecondPatchLeavesTheFirstApplied) {
  MakeTree("100", {{"data/a.dat", "a in 100"}, {"data/late.dat", std::string(5000, 'l')}});
  MakeTree("200", {{"data/a.dat", "a in 200"}, {"data/late.dat", std::string(5000, 'l')}});
  MakeTree("300", {{"data/a.dat", "a in 300"}, {"data/late.dat", std::string(5000, 'm')}});
  Package("300", {"100"}, {{"100", "200"}, {"200", "300"}});
  InstallCopyOf("100");
  m_folder.WriteFile("install/data/late.dat", "edited by the user");
  RegisterInstall();

  const RunResult result = RunPackaged();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Contains("Patching from 100 to 200.\n")) << result.output;
  EXPECT_TRUE(result.Contains("Patching from 200 to 300.\n")) << result.output;
  ASSERT_GE(result.lines.size(), 3u);
  const std::vector<std::string> tail(result.lines.end() - 3, result.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"", "Failed to apply the patch: 200_to_300", kAborted}))
      << result.output;
  Tree expected = TakeTree(TreePath("200"));
  expected["data/late.dat"] = "edited by the user";
  ExpectInstallEquals(expected);
  EXPECT_NE(app_test::ReadFile(m_folder / "registry.reg").find("\"IsPatching\"=dword:00000001"),
            std::string::npos);
}

}  // namespace
