// A two-patch standalone run killed with SIGKILL at many points (the fault
// hook's kill rule at a platform call: named points, and points drawn from
// a fixed seed), then run again without faults. Whatever the kill left, the
// second run must end with the final build byte for byte, the player's own
// files kept, no backup left, "IsPatching" clear, no journal, and the asset
// database rebuilt after the last change.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::EditedBytes;
using standalone_test::NoiseBytes;
using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

struct KillCase {
  std::string name;
  std::string faults;  // KORVEL_FAULTS of the run that is killed
};

void PrintTo(const KillCase& kill, std::ostream* out) {
  *out << kill.name << " (" << kill.faults << ")";
}

// The calls a run makes while it changes the installation: copies, moves,
// deletions, tool starts, stream writes and the atomic replacements of the
// journal and the uninstaller log.
const char* const kOperations[] = {"CopyFile",    "MoveFile",    "DeleteFile",  "SpawnInFolder",
                                   "WriteStream", "FlushStream", "ReplaceFile", "OpenStream"};

std::vector<KillCase> KillCases() {
  std::vector<KillCase> cases = {
      {"SecondNewFile", "CopyFile:path=expansion:skip=1:kill=1"},
      {"RemovedFile", "MoveFile:path=obsolete:kill=1"},
      {"FirstToolOutput", "ReadPipe:kill=1"},
      {"SecondPatchsTool", "SpawnInFolder:skip=3:kill=1"},
      {"LauncherRebuild", "SpawnInFolder:path=Launcher.exe:kill=1"},
      {"DroppingBackups", "DeleteFile:path=.pbk:kill=1"},
      {"SecondPatchsCommit", "DeleteFile:path=.pbk:skip=4:kill=1"},
      {"JournalWrite", "ReplaceFile:path=KorvelPatch:skip=2:kill=1"},
      {"UninstallerLog", "ReplaceFile:path=unins000:kill=1"},
  };
  std::mt19937 random(20261209);  // fixed: the same points on every run
  for (int i = 0; i < 12; ++i) {
    const char* operation = kOperations[random() % std::size(kOperations)];
    const int skip = static_cast<int>(random() % 24);
    cases.push_back(
        {"Random" + std::to_string(i), std::string(operation) + ":skip=" + std::to_string(skip) + ":kill=1"});
  }
  return cases;
}

class KillSuite : public StandaloneRunTest, public ::testing::WithParamInterface<KillCase> {
 protected:
  void SetUp() override {
    const std::string terrain = NoiseBytes(400000, 7);
    const std::string forest = NoiseBytes(150000, 11);
    const std::string locked = NoiseBytes(60000, 13);
    MakeTree("100", {{"data/terrain.dat", terrain},
                     {"data/maps/forest.map", forest},
                     {"data/locked.dat", locked},
                     {"data/old/obsolete1.dat", "removed by 200"},
                     {"data/old/obsolete2.dat", "removed by 200"},
                     {"readme.txt", "unchanged"}});
    MakeTree("200", {{"data/terrain.dat", EditedBytes(terrain, "v200")},
                     {"data/maps/forest.map", EditedBytes(forest, "v200")},
                     {"data/locked.dat", EditedBytes(locked, "v200")},
                     {"data/expansion/a.pak", NoiseBytes(40000, 3)},
                     {"data/expansion/b.pak", NoiseBytes(40000, 5)},
                     {"readme.txt", "unchanged"}});
    MakeTree("300", {{"data/terrain.dat", EditedBytes(EditedBytes(terrain, "v200"), "v300")},
                     {"data/maps/forest.map", EditedBytes(forest, "v200")},
                     {"data/locked.dat", EditedBytes(EditedBytes(locked, "v200"), "v300")},
                     {"data/expansion/a.pak", NoiseBytes(40000, 3)},
                     {"data/expansion/c.pak", NoiseBytes(30000, 17)},
                     {"readme.txt", "unchanged"}});
    Package("300", {"100", "200", "300"}, {{"100", "200"}, {"200", "300"}});
    InstallCopyOf("100");
    fs::permissions(Install() / "data" / "locked.dat", fs::perms::owner_read | fs::perms::group_read);
    m_folder.WriteFile("install/saves/career.sav", "the player's own file");
    m_folder.WriteFile("install/data/mods/mine.dat", "the player's mod");
    RegisterInstall();
  }

  Tree Expected() {
    Tree expected = TakeTree(TreePath("300"));
    expected["saves"] = "<folder>";
    expected["saves/career.sav"] = "the player's own file";
    expected["data/mods"] = "<folder>";
    expected["data/mods/mine.dat"] = "the player's mod";
    expected["data/old"] = "<folder>";  // emptied by 200; removing files leaves their folder
    return expected;
  }

  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(Install())) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".pbk") || name.ends_with(".pbk2") || name.find(".part") != std::string::npos ||
          name == standalone_test::kJournalName)
        found.push_back(entry.path().string());
    }
    return found;
  }
};

TEST_P(KillSuite, NextRunEndsWithTheFinalBuildAndNothingLeftOver) {
  const RunResult killed = RunPackaged({"KORVEL_FAULTS=" + GetParam().faults});
  const bool completed = killed.exitCode == 0;
  if (!completed) fs::remove(Install() / "assets.odx");
  EXPECT_TRUE(fs::exists(Install() / "saves" / "career.sav")) << killed.output;

  const RunResult next = RunPackaged();
  if (completed) {
    EXPECT_EQ(next.exitCode, 3) << "the first run completed; the build is current\n" << next.output;
  } else {
    EXPECT_EQ(next.exitCode, 0) << "killed run:\n" << killed.output << "\nnext run:\n" << next.output;
    ASSERT_FALSE(next.lines.empty());
    EXPECT_EQ(next.lines.back(), "Patching completed.") << next.output;
  }
  ExpectInstallEquals(Expected());
  EXPECT_TRUE(Leftovers().empty()) << Leftovers().front();
  EXPECT_EQ(app_test::ReadFile(m_folder / "registry.reg").find("IsPatching"), std::string::npos);
  EXPECT_TRUE(fs::exists(Install() / "assets.odx")) << "the database was rebuilt after the last change";
  EXPECT_EQ(fs::status(Install() / "data" / "locked.dat").permissions() & fs::perms::owner_write,
            fs::perms::none)
      << "the read-only file stays read-only";
}

INSTANTIATE_TEST_SUITE_P(TwoPatchRun, KillSuite, ::testing::ValuesIn(KillCases()),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return info.param.name; });

}  // namespace
