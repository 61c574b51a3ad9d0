// States that a stopped, failed or unusual standalone run leaves, and the
// next run that must mend them: real SIGKILLs of the console program, a
// failing utility, read-only files and links, file modes, a patch that
// carries a new diff tool, and names near the file system's limit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::EditedBytes;
using standalone_test::NoiseBytes;
using standalone_test::Quoted;
using standalone_test::RunResult;
using standalone_test::RunShell;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

unsigned ModeOf(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

class MendingTest : public StandaloneRunTest {
 protected:
  // 100 -> 200 -> 300, each changing data/terrain.dat and the launcher.
  void MakeChain() {
    const std::string terrain = NoiseBytes(300000, 7);
    MakeTree("100", {{"data/terrain.dat", terrain}, {"readme.txt", "same"}});
    MakeTree("200", {{"data/terrain.dat", EditedBytes(terrain, "v200")}, {"readme.txt", "same"}});
    MakeTree("300", {{"data/terrain.dat", EditedBytes(EditedBytes(terrain, "v200"), "v300")},
                     {"readme.txt", "same"}});
  }

  void PackageChain() { Package("300", {"100", "200", "300"}, {{"100", "200"}, {"200", "300"}}); }

  bool HasBackups() const {
    for (const auto& entry : fs::recursive_directory_iterator(Install()))
      if (entry.path().extension() == ".pbk" || entry.path().extension() == ".pbk2") return true;
    return false;
  }

  // Whether a process started from this installation (a diff tool the
  // killed patcher left running) is still alive.
  bool ToolStillRunning() const {
    const std::string folder = Install().string();
    for (const auto& process : fs::directory_iterator("/proc")) {
      std::ifstream cmdline(process.path() / "cmdline", std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
      if (text.find(folder + "/bin/vpatchl-w32.exe") == 0) return true;
    }
    return false;
  }

  void WaitForOrphanedTools() const {
    for (int attempt = 0; attempt < 500 && ToolStillRunning(); ++attempt)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  bool JournalExists() const { return fs::exists(Install() / standalone_test::kJournalName); }
  bool PatchingMarkerSet() const {
    return app_test::ReadFile(m_folder / "registry.reg").find("IsPatching") != std::string::npos;
  }

  void ExpectCompleted(const RunResult& result) const {
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ASSERT_FALSE(result.lines.empty()) << result.output;
    EXPECT_EQ(result.lines.back(), "Patching completed.") << result.output;
  }

  void ExpectHealthy(const std::string& version) const {
    ExpectInstallEquals(TakeTree(TreePath(version)));
    EXPECT_FALSE(HasBackups());
    EXPECT_FALSE(JournalExists()) << app_test::ReadFile(Install() / standalone_test::kJournalName);
    EXPECT_FALSE(PatchingMarkerSet());
  }

  // Starts the packaged program in the background and kills it with SIGKILL
  // as soon as its output holds `text`.
  std::string RunAndKillWhenShown(const std::string& text, const std::string& environment) {
    const fs::path output = m_folder / "killed.txt";
    std::string command =
        "env -u KORVEL_FAULTS LC_ALL=C KORVEL_REGISTRY=" + Quoted(m_folder / "registry.reg");
    command += " TEMP=" + Quoted(m_folder / "temp") + " " + environment + " " + Quoted(ProgramPath());
    command += " >" + Quoted(output) + " 2>&1 </dev/null & pid=$!; for i in $(seq 1 600); do grep -q " +
               Quoted(text) + " " + Quoted(output) + " && break; sleep 0.05; done; kill -9 $pid; wait $pid";
    RunShell("bash -c " + Quoted(command));
    return app_test::ReadFile(output);
  }
};

// The kill lands after the last commit, while the utility rebuilds the
// database: the next run finds the build current and still rebuilds.
TEST_F(MendingTest, RebuildInterruptedByAKillIsRunByTheNextRun) {
  MakeChain();
  PackageChain();
  InstallCopyOf("100");
  RegisterInstall();
  const std::string killed =
      RunAndKillWhenShown("Updating Ombrix asset database", "OMBRIXUTIL_SLEEP_MS=3000");
  ASSERT_NE(killed.find("Updating Ombrix asset database"), std::string::npos) << killed;
  EXPECT_EQ(killed.find("Patching completed."), std::string::npos) << killed;
  ASSERT_TRUE(JournalExists());
  fs::remove(Install() / "assets.odx");

  const RunResult next = RunPackaged();
  ExpectCompleted(next);
  EXPECT_TRUE(next.Contains("Updating Ombrix asset database")) << next.output;
  EXPECT_TRUE(fs::exists(Install() / "assets.odx")) << "the utility ran again";
  ExpectHealthy("300");
}

TEST_F(MendingTest, FailingRebuildAbortsAndStaysOwedUntilItSucceeds) {
  MakeChain();
  PackageChain();
  InstallCopyOf("100");
  RegisterInstall();
  const RunResult failed = RunPackaged({"OMBRIXUTIL_EXIT_CODE=7"});
  EXPECT_EQ(failed.exitCode, 1) << failed.output;
  EXPECT_TRUE(failed.Contains("still has to be rebuilt")) << failed.output;
  EXPECT_EQ(failed.lines.back(), "Patching aborted.") << failed.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));
  EXPECT_TRUE(JournalExists());

  const RunResult next = RunPackaged();
  ExpectCompleted(next);
  ExpectHealthy("300");
  // With nothing owed any more, the build is simply current.
  const RunResult again = RunPackaged();
  EXPECT_TRUE(again.Contains("does not require this patch")) << again.output;
  EXPECT_EQ(again.exitCode, 3) << "nothing to do is told apart from a failure";
}

class LauncherKillTest : public MendingTest, public ::testing::WithParamInterface<bool> {};

// The launcher is rebuilt last; killed between its move to the backup and
// the tool's output, only the backup is left. The next run recognises the
// installation (from the registry, or from the command line alone).
TEST_P(LauncherKillTest, InstallationWithoutItsLauncherIsRecovered) {
  const bool fromCommandLine = GetParam();
  MakeChain();
  Package("200", {"100", "200"}, {{"100", "200"}});
  InstallCopyOf("100");
  if (!fromCommandLine) RegisterInstall();
  const std::string arguments = fromCommandLine ? "0 " + Quoted(Install()) : std::string();
  const RunResult killed = RunPackaged({"KORVEL_FAULTS=SpawnInFolder:path=Launcher.exe:kill=1"}, arguments);
  EXPECT_NE(killed.exitCode, 0) << killed.output;
  ASSERT_FALSE(fs::exists(Install() / "bin" / "Launcher.exe")) << killed.output;
  ASSERT_TRUE(fs::exists(Install() / "bin" / "Launcher.exe.pbk"));
  EXPECT_EQ(app_test::ReadFile(Install() / "data" / "terrain.dat"),
            app_test::ReadFile(TreePath("200") / "data" / "terrain.dat"))
      << "every other file was rebuilt before the launcher";

  const RunResult next = RunPackaged({}, arguments);
  ExpectCompleted(next);
  ExpectInstallEquals(TakeTree(TreePath("200")));
  EXPECT_FALSE(HasBackups());
  EXPECT_FALSE(JournalExists());
}

INSTANTIATE_TEST_SUITE_P(FoundBy, LauncherKillTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "CommandLine" : "Registry";
                         });

TEST_F(MendingTest, KillWhileTheCommitDropsBackupsLeavesNothingBehindTheNextRun) {
  MakeChain();
  Package("200", {"100", "200"}, {{"100", "200"}});
  InstallCopyOf("100");
  RegisterInstall();
  const RunResult killed = RunPackaged({"KORVEL_FAULTS=DeleteFile:path=.pbk:skip=1:kill=1"});
  EXPECT_NE(killed.exitCode, 0) << killed.output;
  ASSERT_TRUE(HasBackups());
  const RunResult next = RunPackaged();
  ExpectCompleted(next);
  ExpectHealthy("200");
}

// Package A (100 -> 200) is killed part way; the player then runs package
// B (200 -> 300). B must not touch A's backups; A then finishes, and B
// applies on top.
TEST_F(MendingTest, AnotherPatchLeavesTheBackupsOfAnInterruptedOneAlone) {
  const std::string terrain = NoiseBytes(300000, 7);
  const std::string more = NoiseBytes(100000, 3);
  MakeTree("100", {{"data/terrain.dat", terrain}, {"data/more.dat", more}});
  MakeTree("200", {{"data/terrain.dat", EditedBytes(terrain, "v200")},
                   {"data/more.dat", EditedBytes(more, "v200")}});
  MakeTree("300", {{"data/terrain.dat", EditedBytes(terrain, "v300")},
                   {"data/more.dat", EditedBytes(more, "v200")}});
  Package("200", {"100", "200"}, {{"100", "200"}});
  const fs::path packageA = m_folder / "patch-a";
  fs::copy_file(ProgramPath(), packageA);
  Package("300", {"200", "300"}, {{"200", "300"}});
  InstallCopyOf("100");
  RegisterInstall();

  // Killed as the tool for the second file starts: the first is rebuilt.
  const RunResult killed = Run(packageA, {"KORVEL_FAULTS=SpawnInFolder:skip=1:kill=1"});
  EXPECT_NE(killed.exitCode, 0) << killed.output;
  ASSERT_TRUE(HasBackups()) << killed.output;
  // A tool that was running beside the killed one finishes its file on its
  // own (it writes under a temporary name and renames it into place).
  WaitForOrphanedTools();
  const Tree afterKill = TakeTree(Install());

  // The launcher changes last, so B sees build 100, which it does not
  // patch, and changes nothing.
  const RunResult other = RunPackaged();
  EXPECT_EQ(other.exitCode, 1) << other.output;
  EXPECT_TRUE(TakeTree(Install()) == afterKill)
      << standalone_test::DescribeDifferences(afterKill, TakeTree(Install()));

  ExpectCompleted(Run(packageA));
  ExpectHealthy("200");
  ExpectCompleted(RunPackaged());
  ExpectHealthy("300");
}

// Read-only files, a read-only launcher and a link to a read-only file
// outside the game, through a chain of two patches.
TEST_F(MendingTest, ReadOnlyFilesAndLinksArePatchedAndKeepTheirFlag) {
  const std::string terrain = NoiseBytes(200000, 9);
  const std::string linked = NoiseBytes(100000, 4);
  MakeTree("100", {{"data/f1.dat", terrain}, {"data/linked.dat", linked}});
  MakeTree("200",
           {{"data/f1.dat", EditedBytes(terrain, "v200")}, {"data/linked.dat", EditedBytes(linked, "v200")}});
  MakeTree("300", {{"data/f1.dat", EditedBytes(EditedBytes(terrain, "v200"), "v300")},
                   {"data/linked.dat", EditedBytes(linked, "v200")}});
  PackageChain();
  InstallCopyOf("100");
  RegisterInstall();
  const fs::path outside = m_folder / "outside.dat";
  m_folder.WriteFile("outside.dat", linked);
  fs::permissions(outside, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::remove(Install() / "data" / "linked.dat");
  fs::create_symlink(outside, Install() / "data" / "linked.dat");
  for (const char* name : {"data/f1.dat", "bin/Launcher.exe"})
    fs::permissions(Install() / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  const RunResult run = RunPackaged();
  ExpectCompleted(run);
  ExpectInstallEquals(TakeTree(TreePath("300")));
  EXPECT_FALSE(HasBackups());
  EXPECT_EQ(ModeOf(Install() / "data" / "f1.dat"), 0444u);
  EXPECT_EQ(ModeOf(Install() / "bin" / "Launcher.exe"), 0444u);
  EXPECT_FALSE(fs::is_symlink(Install() / "data" / "linked.dat"));
  EXPECT_EQ(app_test::ReadFile(outside), linked) << "the link's target outside the game is untouched";
  EXPECT_EQ(ModeOf(outside), 0444u);
  EXPECT_TRUE(RunPackaged().Contains("does not require this patch"));
}

// Programs stay programs: a rebuilt utility keeps its mode (and rebuilds
// the database afterwards), an added program arrives executable, and a
// patch can carry a new diff tool.
TEST_F(MendingTest, ModesSurviveAndAPatchMayRebuildItsOwnTools) {
  MakeChain();
  const std::string tool = app_test::ReadFile(TreePath("100") / "bin" / "vpatchl-w32.exe");
  const std::string utility = app_test::ReadFile(TreePath("100") / "bin" / "OmbrixUtil.exe");
  for (const char* version : {"200", "300"}) {
    const std::string tail = std::string("\nbuild ") + version;
    m_folder.WriteFile("trees/" + std::string(version) + "/bin/vpatchl-w32.exe", tool + tail);
    m_folder.WriteFile("trees/" + std::string(version) + "/bin/OmbrixUtil.exe", utility + tail);
    m_folder.WriteFile("trees/" + std::string(version) + "/bin/helper.exe", "#!/bin/sh\nexit 0\n");
    for (const char* program : {"vpatchl-w32.exe", "OmbrixUtil.exe", "helper.exe"})
      fs::permissions(TreePath(version) / "bin" / program, static_cast<fs::perms>(0755));
  }
  fs::permissions(TreePath("300") / "bin" / "helper.exe", static_cast<fs::perms>(0750));
  PackageChain();
  InstallCopyOf("100");
  RegisterInstall();

  const RunResult run = RunPackaged();
  ExpectCompleted(run);
  EXPECT_FALSE(run.Contains("Failed to launch OmbrixUtil")) << run.output;
  ExpectHealthy("300");
  EXPECT_EQ(ModeOf(Install() / "bin" / "vpatchl-w32.exe") & 0111, 0111u);
  EXPECT_EQ(ModeOf(Install() / "bin" / "OmbrixUtil.exe") & 0111, 0111u);
  EXPECT_EQ(ModeOf(Install() / "bin" / "helper.exe"), 0755u) << "an added file keeps the publisher's mode";
}

// A 250-byte name is the longest the builder takes: its diff and backup
// names still fit, and the diff tool writes under a short temporary name.
TEST_F(MendingTest, NamesUpToTheLimitArePatchedAndLongerOnesAreRefusedByTheBuilder) {
  const std::string longest(246, 'n');
  const std::string bytes = NoiseBytes(50000, 2);
  MakeTree("100", {{"data/" + longest + ".dat", bytes}});
  MakeTree("200", {{"data/" + longest + ".dat", EditedBytes(bytes, "v200")}});
  Package("200", {"100", "200"}, {{"100", "200"}});
  InstallCopyOf("100");
  RegisterInstall();
  ExpectCompleted(RunPackaged());
  ExpectHealthy("200");

  const std::string tooLong(247, 'n');
  m_folder.WriteFile("trees/300/data/" + tooLong + ".dat", "new");
  const fs::path output = m_folder / "make.txt";
  const int code = RunShell(Quoted(std::string(KORVEL_MAKE_PATCH)) + " --old " + Quoted(TreePath("200")) +
                            " --new " + Quoted(TreePath("300")) + " --out " + Quoted(m_folder / "x.arc") +
                            " >" + Quoted(output) + " 2>&1");
  EXPECT_NE(code, 0);
  EXPECT_NE(app_test::ReadFile(output).find(tooLong), std::string::npos) << app_test::ReadFile(output);
  EXPECT_FALSE(fs::exists(m_folder / "x.arc"));
}

}  // namespace
