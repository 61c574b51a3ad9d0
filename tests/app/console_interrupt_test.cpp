// Ctrl-C typed at the console while a standalone patch runs: the real
// console program on a pseudo-terminal of its own, interrupted the way a
// user interrupts it (the terminal's interrupt character, which signals
// the whole foreground process group), during unpacking, during a diff and
// during the asset database rebuild.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "pty_session.h"
#include "slow_diff_tool.h"
#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using app_test::PtySession;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr char kCancelling[] = "Cancelling patch process...";
constexpr char kAborted[] = "Patching aborted.";
constexpr char kCompleted[] = "Patching completed.";
constexpr char kUnpacking[] = "Unpacking patch file...";
constexpr char kUnpackFailed[] = "Failed to extract the patch archive.";
constexpr char kToolKilled[] = "An unknown error (130)";
constexpr int kRunTimeoutMs = 120000;
// The message follows the keypress within this time (the watcher looks
// twenty times a second).
constexpr int kAnnounceTimeoutMs = 1500;
constexpr int kInterruptedExitCode = 130;

std::string Text(const fs::path& path) {
  return fs::exists(path) ? app_test::ReadFile(path) : std::string();
}

class ConsoleInterruptTest : public StandaloneRunTest {
 protected:
  fs::path SlowDiffMark() const { return m_folder / "slow-diff.txt"; }

  // Versions 100 and 200: one file added, one removed, two changed.
  void MakeVersions(const std::map<std::string, std::string>& extraIn200 = {}) {
    MakeTree("100", {{"data/first.dat", std::string(40000, 'a')},
                     {"data/second.dat", std::string(40000, 'b')},
                     {"data/obsolete.dat", "removed by 200"}});
    std::map<std::string, std::string> files200 = {{"data/first.dat", std::string(40000, 'a') + "changed"},
                                                   {"data/second.dat", std::string(40000, 'b') + "changed"},
                                                   {"data/added.dat", "new in 200"}};
    files200.insert(extraIn200.begin(), extraIn200.end());
    MakeTree("200", files200);
  }

  // A diff tool in both versions (so the patch leaves it alone) that takes
  // two seconds over data\first.dat while the test names a mark;
  // data\second.dat is patched after it.
  void UseSlowDiffTool() {
    for (const std::string version : {"100", "200"})
      app_test::InstallSlowDiffTool(TreePath(version), "first.dat", VPATCH_TOOL);
  }

  void PackageAndInstall() {
    Package("200", {"100"}, {{"100", "200"}});
    InstallCopyOf("100");
    RegisterInstall();
  }

  void Start(PtySession& session, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> assignments = {"LC_ALL=C", "LANG=C",
                                            "KORVEL_REGISTRY=" + (m_folder / "registry.reg").string(),
                                            "TEMP=" + (m_folder / "temp").string()};
    assignments.insert(assignments.end(), environment.begin(), environment.end());
    ASSERT_TRUE(
        session.Start(ProgramPath().string(), {}, app_test::EnvironmentWith(assignments, {"KORVEL_FAULTS"})));
  }

  // A cancelled run leaves the installation as it was: no new file, no
  // changed file, no backup. The patch journal is the patcher's own
  // bookkeeping (it may still owe a database rebuild), not a game file.
  void ExpectUntouched(const Tree& before, const PtySession& session) {
    Tree after = TakeTree(Install());
    after.erase("KorvelPatch.journal");
    EXPECT_TRUE(after == before) << standalone_test::DescribeDifferences(before, after) << session.Output();
  }
};

// The first Ctrl-C stops the unpacking between two entries: the run ends
// "Patching aborted." before anything is patched.
TEST_F(ConsoleInterruptTest, DuringUnpackingTheRunStopsBeforePatching) {
  std::map<std::string, std::string> many;
  for (int i = 0; i < 2000; ++i)
    many["data/many/file" + std::to_string(i) + ".dat"] =
        std::string(8000, static_cast<char>('a' + i % 26)) + std::to_string(i);
  MakeVersions(many);
  PackageAndInstall();
  const Tree before = TakeTree(Install());
  PtySession session;
  Start(session);
  ASSERT_TRUE(session.WaitForOutput(kUnpacking, kRunTimeoutMs)) << session.Output();
  const auto typed = std::chrono::steady_clock::now();
  ASSERT_TRUE(session.TypeInterrupt());
  EXPECT_TRUE(session.WaitForOutput(kCancelling, kAnnounceTimeoutMs)) << session.Output();
  const std::optional<int> exitCode = session.WaitForExit(kRunTimeoutMs);
  const std::chrono::duration<double> stopping = std::chrono::steady_clock::now() - typed;
  ASSERT_TRUE(exitCode.has_value()) << session.Output();
  EXPECT_EQ(*exitCode, 1) << session.Output();
  EXPECT_TRUE(session.Shows(kUnpackFailed)) << session.Output();
  EXPECT_FALSE(session.Shows("Patching...\n")) << "the patch was applied: " << session.Output();
  EXPECT_TRUE(session.Shows(std::string(kAborted) + "\n")) << session.Output();
  ExpectUntouched(before, session);
  std::printf("[          ] stopped %.3f s after the Ctrl-C\n", stopping.count());
}

// A diff under way is not cut short: the tool finishes its file, the step
// stops before the next one and the patch is rolled back.
TEST_F(ConsoleInterruptTest, DuringADiffTheToolFinishesAndThePatchIsRolledBack) {
  MakeVersions();
  UseSlowDiffTool();
  PackageAndInstall();
  const Tree before = TakeTree(Install());
  PtySession session;
  Start(session, {std::string(app_test::kSlowDiffMarkVariable) + "=" + SlowDiffMark().string()});
  ASSERT_TRUE(session.WaitUntil([&] { return Text(SlowDiffMark()) == "started\n"; }, kRunTimeoutMs))
      << session.Output();
  ASSERT_TRUE(session.TypeInterrupt());
  EXPECT_TRUE(session.WaitForOutput(kCancelling, kAnnounceTimeoutMs)) << session.Output();
  EXPECT_EQ(Text(SlowDiffMark()), "started\n") << "announced only after the diff";
  const std::optional<int> exitCode = session.WaitForExit(kRunTimeoutMs);
  ASSERT_TRUE(exitCode.has_value()) << session.Output();
  EXPECT_EQ(*exitCode, 1) << session.Output();
  EXPECT_EQ(Text(SlowDiffMark()), "started\nfinished\n") << "the diff tool was interrupted";
  EXPECT_FALSE(session.Shows(kToolKilled)) << session.Output();
  EXPECT_TRUE(session.Shows(std::string(kAborted) + "\n")) << session.Output();
  EXPECT_FALSE(session.Shows(kCompleted)) << session.Output();
  ExpectUntouched(before, session);
}

// After the last commit the rebuild must match the committed files: the
// utility does not get the Ctrl-C and runs to its end.
TEST_F(ConsoleInterruptTest, DuringTheRebuildTheUtilityRunsToItsEnd) {
  MakeVersions();
  PackageAndInstall();
  PtySession session;
  Start(session, {"OMBRIXUTIL_SLEEP_MS=2000"});
  ASSERT_TRUE(session.WaitForOutput("OmbrixUtil: joined the asset database", kRunTimeoutMs))
      << session.Output();
  ASSERT_TRUE(session.TypeInterrupt());
  EXPECT_TRUE(session.WaitForOutput(kCancelling, kAnnounceTimeoutMs)) << session.Output();
  EXPECT_FALSE(fs::exists(Install() / "assets.odx")) << "the utility had already finished";
  const std::optional<int> exitCode = session.WaitForExit(kRunTimeoutMs);
  ASSERT_TRUE(exitCode.has_value()) << session.Output();
  EXPECT_EQ(*exitCode, 0) << session.Output();
  EXPECT_EQ(Text(Install() / "assets.odx"), "ombrix asset index, rebuilt by OmbrixUtil\n");
  EXPECT_FALSE(session.Shows("OmbrixUtil ended with code")) << session.Output();
  EXPECT_TRUE(session.Shows(kCompleted)) << session.Output();
  ExpectInstallEquals(TakeTree(TreePath("200")));
}

// A second Ctrl-C ends the program at once, and the diff tool with it (it
// must not go on writing into the installation); the next run recovers.
TEST_F(ConsoleInterruptTest, ASecondCtrlCEndsAtOnceAndTheNextRunRecovers) {
  MakeVersions();
  UseSlowDiffTool();
  PackageAndInstall();
  {
    PtySession session;
    Start(session, {std::string(app_test::kSlowDiffMarkVariable) + "=" + SlowDiffMark().string()});
    ASSERT_TRUE(session.WaitUntil([&] { return Text(SlowDiffMark()) == "started\n"; }, kRunTimeoutMs))
        << session.Output();
    ASSERT_TRUE(session.TypeInterrupt());
    ASSERT_TRUE(session.WaitForOutput(kCancelling, kAnnounceTimeoutMs)) << session.Output();
    ASSERT_TRUE(session.TypeInterrupt());
    const std::optional<int> exitCode = session.WaitForExit(1000);
    ASSERT_TRUE(exitCode.has_value()) << "still running after the second Ctrl-C: " << session.Output();
    EXPECT_EQ(*exitCode, kInterruptedExitCode);
    EXPECT_FALSE(session.Shows(kAborted)) << session.Output();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // past the tool's pause
  EXPECT_EQ(Text(SlowDiffMark()), "started\n") << "the diff tool outlived the patcher";

  const standalone_test::RunResult next = RunPackaged();
  EXPECT_EQ(next.exitCode, 0) << next.output;
  ExpectInstallEquals(TakeTree(TreePath("200")));
}

}  // namespace
