// A run that fails at any point leaves the installation exactly as it was:
// faults injected into each kind of change, and real failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "TreeSnapshot.h"
#include "patch/PatchGuard.h"
#include "patch/PatchingFlag.h"
#include "uninstlog_builder.h"

namespace {

using namespace enginetest;

// Two added files (one in a new folder), two deleted files and three
// patched files, plus an uninstaller log the run extends.
class RollbackTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    InstallCopyingDiffTool();
    uninstlog::WriteFileBytes(m_install / "unins000.dat",
                              uninstlog::BuildLog(uninstlog::FillerRecords(700), 5));
    WriteInstalled("readme.txt", "unchanged");
    AddFile("bin\\new.dll", "new library");
    AddFile("maps\\desert\\dunes.map", "new map");
    WriteInstalled("old\\first.dat", "first deleted");
    WriteInstalled("old\\second.dat", "second deleted");
    RemoveFile("old\\first.dat");
    RemoveFile("old\\second.dat");
    ChangeFile("bin\\a.dll", "a1", "a2");
    ChangeFile("bin\\b.dll", "b1", "b2");
    ChangeFile("data\\c.dat", "c1", "c2");
    WriteLists();
    m_before = TakeSnapshot(m_install);
  }

  void ExpectUnchangedAndFlagged(bool result) {
    EXPECT_FALSE(result);
    const TreeSnapshot after = TakeSnapshot(m_install);
    EXPECT_EQ(after, m_before) << DescribeDifferences(m_before, after);
    EXPECT_TRUE(after.Backups().empty());
    EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
  }

  TreeSnapshot m_before;
};

struct InjectedFault {
  std::string name;
  std::string operation;
  std::string pathContains;
  int skip;
  int count;             // failures in a row (a failed copy is retried once)
  std::wstring message;  // how the level-2 text of the failure starts; empty: none checked
};

void PrintTo(const InjectedFault& fault, std::ostream* os) {
  *os << fault.name;
}

class InjectedRollbackTest : public RollbackTest, public ::testing::WithParamInterface<InjectedFault> {};

TEST_P(InjectedRollbackTest, InstallationIsRestored) {
  const InjectedFault& fault = GetParam();
  bool result = true;
  {
    OS::ScopedFaults faults;
    OS::FaultRule rule;
    rule.operation = fault.operation;
    rule.pathContains = fault.pathContains;
    rule.skip = fault.skip;
    rule.count = fault.count;
    faults.Add(rule);
    result = NolkPatch::ApplyPatchGuarded(Wide(m_patch));
    EXPECT_GT(faults.Calls(fault.operation), fault.skip);
  }
  ExpectUnchangedAndFlagged(result);
  if (!fault.message.empty()) {
    const bool reported = std::any_of(m_messages.begin(), m_messages.end(), [&fault](const auto& message) {
      return message.first == 2 && message.second.rfind(fault.message, 0) == 0;
    });
    EXPECT_TRUE(reported) << NolkUtil::ToNarrow(fault.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedRollbackTest,
    ::testing::Values(
        InjectedFault{"SecondCopy", "CopyFile", "dunes.map", 0, 2, L"Could not copy the file: "},
        InjectedFault{"FirstDeletion", "MoveFile", ".pbk", 0, 1, L"Could not delete: "},
        InjectedFault{"SecondDeletion", "MoveFile", ".pbk", 1, 1, L"Could not delete: "},
        InjectedFault{"FirstPatchBackup", "MoveFile", ".pbk", 2, 1, L"Failed to create backup of file "},
        InjectedFault{"ThirdPatchBackup", "MoveFile", ".pbk", 4, 1, L"Failed to create backup of file "},
        InjectedFault{"ThirdToolStart", "SpawnInFolder", "vpatchl-w32.exe", 2, 1, L""},
        InjectedFault{"UninstallerTempFile", "OpenStream", "unins000_temp", 0, 1, L""}),
    [](const ::testing::TestParamInfo<InjectedFault>& info) { return info.param.name; });

TEST_F(RollbackTest, CopyFailingOnceIsRetried) {
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "CopyFile";
  rule.pathContains = "new.dll";
  rule.count = 1;
  faults.Add(rule);
  EXPECT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(ReadBytes(Installed("bin\\new.dll")), "new library");
  EXPECT_EQ(PatchingFlag(), std::nullopt);
}

TEST_F(RollbackTest, MissingDiffRollsBack) {
  fs::remove(PatchData("data\\c.dat").string() + ".diff");
  ExpectUnchangedAndFlagged(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_TRUE(HasMessage(2, L"Could not open patch file data\\c.dat for reading."));
}

TEST_F(RollbackTest, DamagedThirdFileRestoresTheFirstTwo) {
  WriteInstalled("data\\c.dat", "damaged");
  m_before = TakeSnapshot(m_install);
  ExpectUnchangedAndFlagged(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(ToolCalls().size(), 2u);
}

TEST_F(RollbackTest, SuccessClearsTheFlagAndCommits) {
  ASSERT_TRUE(NolkPatch::SetPatchingFlag());
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(PatchingFlag(), std::nullopt);
  const TreeSnapshot after = TakeSnapshot(m_install);
  EXPECT_TRUE(after.Backups().empty());
  EXPECT_EQ(ReadBytes(Installed("data\\c.dat")), "c2");
  EXPECT_FALSE(fs::exists(Installed("old\\first.dat")));
  EXPECT_NE(ReadBytes(m_install / "unins000.dat"), *m_before.entries.at("unins000.dat"));
}

TEST_F(RollbackTest, BackupThatCannotBeRestoredIsReportedAndKept) {
  WriteInstalled("data\\c.dat", "damaged");
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "MoveFile";
  rule.pathContains = "a.dll.pbk";
  rule.skip = 1;  // the backup is made; moving it back fails
  rule.count = 1;
  faults.Add(rule);
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_TRUE(HasMessage(2, L"Failed to restore backup file " + Shown("bin\\a.dll")));
  EXPECT_EQ(ReadBytes(Installed("bin\\a.dll.pbk")), "a1");
  EXPECT_EQ(ReadBytes(Installed("bin\\b.dll")), "b1");
  EXPECT_EQ(ReadBytes(Installed("old\\first.dat")), "first deleted");
  EXPECT_FALSE(fs::exists(Installed("bin\\new.dll")));
  // Once the damage is repaired, the next run picks the kept backup up
  // again and completes the patch.
  WriteInstalled("data\\c.dat", "c1");
  m_messages.clear();
  EXPECT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_TRUE(HasMessage(1, L"Restored backup left by an interrupted patch: " + Shown("bin\\a.dll")));
  EXPECT_EQ(ReadBytes(Installed("bin\\a.dll")), "a2");
  EXPECT_TRUE(TakeSnapshot(m_install).Backups().empty());
}

}  // namespace
