// What the console program says when its package does not apply.
#include <gtest/gtest.h>

#include <fstream>

#include "standalone_test_support.h"

namespace {

using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr char kNoOperation[] = "No valid patch operation was specified. Patching aborted.";

class NotApplicableRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    MakeTree("100", {{"data/a.dat", "a in 100"}});
    MakeTree("200", {{"data/a.dat", "a in 200"}});
    MakeTree("other", {{"data/a.dat", "someone else's build"}});
    Package("200", {"100", "200"}, {{"100", "200"}});
    RegisterInstall();
  }

  void ExpectNothingChanged(const RunResult& result, const Tree& before, int exitCode = 1) {
    EXPECT_EQ(result.exitCode, exitCode);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back(), kNoOperation);
    EXPECT_FALSE(result.Contains("Patching from")) << result.output;
    ExpectInstallEquals(before);
  }
};

TEST_F(NotApplicableRun, BuildMissingFromThePackageShowsItsHash) {
  InstallCopyOf("other");
  const Tree before = TakeTree(Install());
  const RunResult result = RunPackaged();
  EXPECT_TRUE(
      result.Contains("This patch file is not applicable to your current installation version.\n"
                      "(Build hash: " +
                      LauncherHash("other") + ")\n"))
      << result.output;
  ExpectNothingChanged(result, before);
}

TEST_F(NotApplicableRun, CurrentBuildNeedsNoPatch) {
  InstallCopyOf("200");
  const Tree before = TakeTree(Install());
  const RunResult result = RunPackaged();
  EXPECT_EQ(result.lines,
            (std::vector<std::string>{"The installed build does not require this patch.", kNoOperation}));
  ExpectNothingChanged(result, before, 3);
}

TEST_F(NotApplicableRun, ByteAfterThePackageIsAFileError) {
  InstallCopyOf("100");
  std::ofstream(ProgramPath(), std::ios::binary | std::ios::app) << '\0';
  const Tree before = TakeTree(Install());
  const RunResult result = RunPackaged();
  EXPECT_EQ(result.lines, (std::vector<std::string>{"File error while reading patch data.", kNoOperation}));
  ExpectNothingChanged(result, before);
}

TEST_F(NotApplicableRun, ProgramWithoutPackageSaysOnlyThatThereIsNothingToDo) {
  InstallCopyOf("100");
  const Tree before = TakeTree(Install());
  const RunResult result = Run(KORVEL_PATCHER_CLI);
  EXPECT_EQ(result.lines, std::vector<std::string>{kNoOperation});
  ExpectNothingChanged(result, before);
}

}  // namespace
