// A standalone run killed part way (SIGKILL at a chosen platform call, so
// nothing of the patcher's own clean-up runs) and the next run of the same
// patch: it must put back what the killed run moved aside and then apply
// the patch normally, losing no file of the user's.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "standalone_test_support.h"

namespace {

using standalone_test::EditedBytes;
using standalone_test::NoiseBytes;
using standalone_test::RunResult;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;
using standalone_test::Tree;

// Bytes that a diff of a few edits cannot compress away, so the diff tool
// has real work to do.

struct KillPoint {
  const char* name;
  const char* faults;  // KORVEL_FAULTS of the run that is killed
  bool leavesBackups;  // whether ".pbk" files must be left behind
};

const KillPoint kKillPoints[] = {
    // The second new file is being copied in.
    {"AddedStep", "CopyFile:path=expansion:skip=1:kill=1", false},
    // The second removed file is being moved aside.
    {"DeletedStep", "MoveFile:path=obsolete:skip=1:kill=1", true},
    // The patcher reads the output of the first diff tool it started.
    {"WhileADiffToolRuns", "ReadPipe:kill=1", true},
    // Every file is changed; the backups are about to be dropped.
    {"BeforeCommit", "DeleteFile:path=.pbk:kill=1", true},
};

void PrintTo(const KillPoint& point, std::ostream* out) {
  *out << point.name;
}

class KilledRun : public StandaloneRunTest, public ::testing::WithParamInterface<KillPoint> {
 protected:
  void SetUp() override {
    const std::string terrain = NoiseBytes(600000, 7);
    const std::string forest = NoiseBytes(200000, 11);
    MakeTree("39979", {{"data/terrain.dat", terrain},
                       {"data/maps/forest.map", forest},
                       {"data/old/obsolete1.dat", "removed by 40040 (1)"},
                       {"data/old/obsolete2.dat", "removed by 40040 (2)"},
                       {"data/old/obsolete3.dat", "removed by 40040 (3)"},
                       {"readme.txt", "unchanged"}});
    MakeTree("40040", {{"data/terrain.dat", EditedBytes(terrain, "new mountains")},
                       {"data/maps/forest.map", EditedBytes(forest, "more trees")},
                       {"data/expansion/a.pak", NoiseBytes(50000, 3)},
                       {"data/expansion/b.pak", NoiseBytes(50000, 5)},
                       {"readme.txt", "unchanged"}});
    std::filesystem::create_directories(TreePath("40040") / "data" / "old");
    Package("40040", {"39979"}, {{"39979", "40040"}});
    InstallCopyOf("39979");
    m_folder.WriteFile("install/saves/career.sav", "the player's own file");
    RegisterInstall();
  }

  Tree ExpectedAfterPatch() {
    Tree expected = TakeTree(TreePath("40040"));
    const Tree withSave = TakeTree(Install());
    for (const auto& [path, content] : withSave)
      if (path.rfind("saves", 0) == 0) expected[path] = content;
    return expected;
  }

  bool HasBackups() const {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Install()))
      if (entry.path().extension() == ".pbk") return true;
    return false;
  }
};

TEST_P(KilledRun, NextRunRestoresAndAppliesThePatch) {
  const Tree expected = ExpectedAfterPatch();
  const RunResult killed = RunPackaged({std::string("KORVEL_FAULTS=") + GetParam().faults});
  EXPECT_NE(killed.exitCode, 0) << killed.output;
  EXPECT_NE(killed.exitCode, 1) << killed.output;  // it did not end by itself
  EXPECT_FALSE(killed.Contains("Patching completed.")) << killed.output;
  EXPECT_FALSE(killed.Contains("Patching aborted.")) << killed.output;
  EXPECT_NE(app_test::ReadFile(m_folder / "registry.reg").find("IsPatching"), std::string::npos);
  EXPECT_EQ(HasBackups(), GetParam().leavesBackups);
  EXPECT_TRUE(std::filesystem::exists(Install() / "saves" / "career.sav"));

  const RunResult next = RunPackaged();
  EXPECT_EQ(next.exitCode, 0) << next.output;
  ASSERT_FALSE(next.lines.empty());
  EXPECT_EQ(next.lines.back(), "Patching completed.") << next.output;
  ExpectInstallEquals(expected);
  EXPECT_EQ(app_test::ReadFile(m_folder / "registry.reg").find("IsPatching"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AtSeveralPoints, KilledRun, ::testing::ValuesIn(kKillPoints),
                         [](const ::testing::TestParamInfo<KillPoint>& info) { return info.param.name; });

}  // namespace
