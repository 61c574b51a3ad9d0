// The console program while a game program is attached to the asset
// database: the run gives up after three attempts two seconds apart, says
// so (the box text goes to the terminal) and changes nothing; once the
// game has left, the next run patches.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>

#include "patch/assetdb_test_support.h"
#include "standalone_test_support.h"

namespace {

using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr char kFilesInUseBox[] =
    "Files In Use: One or more Ombrix-related executables are currently running. Please ensure that all "
    "instances of Ombrix, Content Manager, OmbrixUtil and the Launcher are closed and then retry patching.\n";

TEST_F(StandaloneRunTest, LargeFilesInUseFailUntilTheGameHasLeft) {
  MakeTree("100", {{"data/a.dat", "a in 100"}});
  MakeTree("101", {{"data/a.dat", "a in 101"}, {"data/new.dat", "new in 101"}});
  Package("101", {"100"}, {{"100", "101"}});
  InstallCopyOf("100");
  RegisterInstall();
  const Tree before = TakeTree(Install());

  assetdbtest::StandInGame game;
  ASSERT_TRUE(game.Start(Install().string()));
  const auto start = std::chrono::steady_clock::now();
  const RunResult blocked = RunPackaged();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(blocked.exitCode, 1) << blocked.output;
  EXPECT_GE(seconds.count(), 4.0);
  EXPECT_LE(seconds.count(), 20.0);
  EXPECT_TRUE(blocked.Contains("\nUnable to patch - files in use.\n")) << blocked.output;
  EXPECT_TRUE(blocked.Contains(kFilesInUseBox)) << blocked.output;
  EXPECT_FALSE(blocked.Contains("Patching from")) << blocked.output;
  ASSERT_FALSE(blocked.lines.empty());
  EXPECT_EQ(blocked.lines.back(), "Patching aborted.");
  // The game was left alone and leaves cleanly; its ready file goes with it.
  EXPECT_EQ(game.Leave(), 0);
  std::filesystem::remove(Install() / "standin-ready");
  ExpectInstallEquals(before);

  const RunResult after = RunPackaged();
  EXPECT_EQ(after.exitCode, 0) << after.output;
  EXPECT_TRUE(after.Contains("Patching from 100 to 101.\n")) << after.output;
  EXPECT_FALSE(after.Contains("files in use")) << after.output;
  ASSERT_FALSE(after.lines.empty());
  EXPECT_EQ(after.lines.back(), "Patching completed.");
  ExpectInstallEquals(TakeTree(TreePath("101")));
}

}  // namespace
