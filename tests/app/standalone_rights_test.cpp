// Whole standalone runs of the console program by a player without root:
// the run is made as nobody (65534) through setpriv, on an installation
// that nobody owns, without KORVEL_REGISTRY, with HOME and TEMP in scratch
// folders. Also a root run with the folder on the command line, which must
// not create the machine's registry store. The nobody runs need root to
// switch user and are skipped with the reason otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr uid_t kNobody = 65534;
constexpr char kMachineStore[] = "/var/lib/korvel/registry.reg";
constexpr char kCompleted[] = "Patching completed.";
constexpr char kNeedsAdmin[] = "Requires Administrator Privileges";

bool MachineStoreExists() {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(kMachineStore, ignored));
}

void GiveTreeToNobody(const fs::path& root) {
  ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0) << root;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
}

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

uid_t OwnerOf(const fs::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

class PlayerRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    MakeTree("39979", {{"data/maps/forest.map", std::string(30000, 'f')}, {"readme.txt", "unchanged"}});
    MakeTree("40040", {{"data/maps/forest.map", std::string(30000, 'f') + "more trees"},
                       {"data/maps/desert.map", "new in 40040"},
                       {"readme.txt", "unchanged"}});
    Package("40040", {"39979"}, {{"39979", "40040"}});
    InstallCopyOf("39979");
    m_machineStoreExisted = MachineStoreExists();
    // nobody must reach the program and its own folders inside the test's.
    fs::permissions(m_folder.Path(), static_cast<fs::perms>(0755));
    for (const char* folder : {"home", "shared", "fake-bin"}) fs::create_directories(m_folder / folder);
    fs::permissions(m_folder / "shared", static_cast<fs::perms>(01777));
    // Elevation always refused, so a run that asks for it ends at once.
    m_folder.WriteFile("fake-bin/pkexec", "#!/bin/sh\nexit 127\n");
    fs::permissions(m_folder / "fake-bin/pkexec", static_cast<fs::perms>(0755));
  }

  // The run with no store named, HOME and TEMP in the scratch folders;
  // `asPlayer` runs it as nobody.
  RunResult RunAs(bool asPlayer, const std::string& arguments, std::vector<std::string> environment = {}) {
    for (const std::string& assignment : std::vector<std::string>{
             "KORVEL_REGISTRY=", "XDG_DATA_HOME=", "HOME=" + (m_folder / "home").string(),
             "TEMP=" + (m_folder / "shared").string(),
             "PATH=" + (m_folder / "fake-bin").string() + ":/usr/bin:/bin"})
      environment.push_back(assignment);
    if (!asPlayer) return Run(ProgramPath(), environment, arguments);
    m_folder.WriteFile("as-player",
                       "#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"\n");
    fs::permissions(m_folder / "as-player", static_cast<fs::perms>(0755));
    return Run(m_folder / "as-player", environment, "'" + ProgramPath().string() + "' " + arguments);
  }
  std::string FolderArguments() const { return "0 '" + Install().string() + "'"; }
  fs::path PlayerStore() const { return m_folder / "home/.local/share/korvel/registry.reg"; }

  void ExpectNoMachineStoreMade() const {
    if (!m_machineStoreExisted) {
      EXPECT_FALSE(MachineStoreExists()) << kMachineStore << " was created";
    }
  }

  // Registers the installation in the player's own store.
  void RegisterInPlayerStore() {
    RegisterInstall();
    fs::create_directories(PlayerStore().parent_path());
    fs::rename(m_folder / "registry.reg", PlayerStore());
    GiveTreeToNobody(m_folder / "home");
  }

  bool m_machineStoreExisted = false;
};

#define SKIP_UNLESS_ROOT() \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the patch as nobody through setpriv"

TEST_F(PlayerRun, PlayerPatchesAnInstallationTheyOwnWithoutRoot) {
  SKIP_UNLESS_ROOT();
  if (m_machineStoreExisted) GTEST_SKIP() << "a machine store exists here; a player without a store reads it";
  GiveTreeToNobody(Install());
  GiveTreeToNobody(m_folder / "home");
  const RunResult result = RunAs(true, FolderArguments());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_FALSE(result.Contains(kNeedsAdmin)) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
  // Nothing registered, so no store anywhere; the temporary files went to
  // the player's private folder inside the shared TEMP.
  EXPECT_FALSE(fs::exists(m_folder / "home/.local")) << "the write test made a store";
  ExpectNoMachineStoreMade();
  const fs::path privateFolder = m_folder / "shared" / ("korvel-" + std::to_string(kNobody));
  EXPECT_EQ(OwnerOf(privateFolder), kNobody);
  EXPECT_EQ(ModeOf(privateFolder), 0700u);
}

TEST_F(PlayerRun, PlayerFindsTheGameInTheirOwnStoreAndMarksAFailedPatchThere) {
  SKIP_UNLESS_ROOT();
  m_folder.WriteFile("install/data/maps/forest.map", "edited by the player");  // the diff cannot apply
  GiveTreeToNobody(Install());
  RegisterInPlayerStore();
  const RunResult result = RunAs(true, "");
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_FALSE(result.Contains(kNeedsAdmin)) << result.output;
  EXPECT_TRUE(result.Contains("Patching from 39979 to 40040.")) << result.output;
  EXPECT_TRUE(result.Contains("Failed to apply the patch: 39979_to_40040")) << result.output;
  EXPECT_NE(app_test::ReadFile(PlayerStore()).find("\"IsPatching\"=dword:00000001"), std::string::npos)
      << app_test::ReadFile(PlayerStore());
  ExpectNoMachineStoreMade();
}

TEST_F(PlayerRun, PlayerWithTheirOwnStorePatchesAndClearsTheMarker) {
  SKIP_UNLESS_ROOT();
  GiveTreeToNobody(Install());
  RegisterInPlayerStore();
  const RunResult result = RunAs(true, "");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
  const std::string store = app_test::ReadFile(PlayerStore());
  EXPECT_NE(store.find("ProductInstallPath"), std::string::npos) << store;
  EXPECT_EQ(store.find("IsPatching"), std::string::npos) << store;
}

TEST_F(PlayerRun, PlayerWhoCannotWriteTheInstallationIsAskedForRoot) {
  SKIP_UNLESS_ROOT();
  GiveTreeToNobody(m_folder / "home");
  const Tree before = TakeTree(Install());  // root's installation
  const RunResult result = RunAs(true, FolderArguments());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains(kNeedsAdmin)) << result.output;
  EXPECT_FALSE(result.Contains("Patching from")) << result.output;
  ExpectInstallEquals(before);
}

TEST_F(PlayerRun, RootWithTheFolderOnTheCommandLineCreatesNoStore) {
  if (m_machineStoreExisted)
    std::printf("note: %s exists; its absence afterwards is not checked\n", kMachineStore);
  const RunResult result = RunAs(false, FolderArguments());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted);
  ExpectInstallEquals(TakeTree(TreePath("40040")));
  ExpectNoMachineStoreMade();
  EXPECT_FALSE(fs::exists(m_folder / "home/.local"));
}

}  // namespace
