// Forcing the added and rebuilt files to the disk before a patch commits:
// a file that cannot be forced keeps the old installation, and the forcing
// itself reports the first failure in list order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "TreeSnapshot.h"
#include "patch/CommitToDisk.h"
#include "patch/PatchGuard.h"
#include "uninstlog_builder.h"

namespace {

using namespace enginetest;

OS::FaultRule FailingFlush(const std::string& pathContains) {
  OS::FaultRule rule;
  rule.operation = "FlushStream";
  rule.pathContains = pathContains;
  rule.error = OS::ERROR_WRITE_FAULT;
  return rule;
}

class CommitTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    InstallCopyingDiffTool();
    uninstlog::WriteFileBytes(m_install / "unins000.dat",
                              uninstlog::BuildLog(uninstlog::FillerRecords(300), 3));
    AddFile("bin\\new.dll", "new library");
    AddFile("maps\\dunes.map", "new map");
    WriteInstalled("old\\gone.dat", "deleted");
    RemoveFile("old\\gone.dat");
    ChangeFile("bin\\a.dll", "a1", "a2");
    ChangeFile("data\\c.dat", "c1", "c2");
    WriteLists();
    m_before = TakeSnapshot(m_install);
  }

  std::vector<std::wstring> WriteFiles(int count) {
    std::vector<std::wstring> files;
    for (int i = 0; i < count; ++i) {
      const fs::path path = m_root / "forced" / ("file" + std::to_string(i) + ".dat");
      WriteBytes(path, "contents " + std::to_string(i));
      files.push_back(Wide(path));
    }
    return files;
  }

  TreeSnapshot m_before;
};

// Each kind of written file is forced: failing it fails the run before
// the uninstaller log is touched, and every change is undone.
class UnforcedFileTest : public CommitTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnforcedFileTest, KeepsTheOldInstallation) {
  const std::string listPath = GetParam();
  bool result = true;
  {
    OS::ScopedFaults faults;
    faults.Add(FailingFlush(ListPathToRelative(listPath).filename().string()));
    result = NolkPatch::ApplyPatchGuarded(Wide(m_patch));
  }
  EXPECT_FALSE(result);
  EXPECT_TRUE(HasMessage(2, L"Could not write the file to the disk: " + Shown(listPath)));
  const TreeSnapshot after = TakeSnapshot(m_install);
  EXPECT_EQ(after, m_before) << DescribeDifferences(m_before, after);
  EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
}

INSTANTIATE_TEST_SUITE_P(AddedAndRebuilt, UnforcedFileTest,
                         ::testing::Values("bin\\new.dll", "maps\\dunes.map", "bin\\a.dll", "data\\c.dat"));

TEST_F(CommitTest, ACommittedRunForcesEveryWrittenFileOnce) {
  OS::ScopedFaults faults;
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  // Two added and two rebuilt files, plus the uninstaller log's own
  // replacement and the journal's three states (applying, committed,
  // rebuild owed); nothing that was only unpacked or moved aside.
  EXPECT_EQ(faults.Calls("FlushStream"), 8);
  EXPECT_EQ(ReadBytes(Installed("data\\c.dat")), "c2");
  EXPECT_EQ(ReadBytes(Installed("maps\\dunes.map")), "new map");
}

TEST_F(CommitTest, ForcingReportsTheFirstFailureInListOrder) {
  const std::vector<std::wstring> files = WriteFiles(24);
  OS::ScopedFaults faults;
  faults.Add(FailingFlush("file2"));  // file2 and file20 to file23
  std::wstring failed;
  EXPECT_FALSE(NolkPatch::ForceFilesToDisk(files, failed));
  EXPECT_EQ(failed, files[2]);
  EXPECT_EQ(faults.Calls("FlushStream"), 24);
}

TEST_F(CommitTest, ForcingSkipsFilesThatAreGoneAndTakesAnEmptyList) {
  std::vector<std::wstring> files = WriteFiles(3);
  files.insert(files.begin() + 1, Wide(m_root / "forced" / "gone.dat"));
  std::wstring failed;
  EXPECT_TRUE(NolkPatch::ForceFilesToDisk(files, failed));
  EXPECT_TRUE(NolkPatch::ForceFilesToDisk({}, failed));
  EXPECT_TRUE(failed.empty());
}

TEST_F(CommitTest, AFileQueuedForTheFinishIsForcedOnlyThen) {
  const fs::path late = m_root / "forced" / "late.dat";
  NolkPatch::DiskForcer forcer;
  forcer.AddAtFinish(Wide(late));
  WriteBytes(late, "written after it was queued");
  OS::ScopedFaults faults;
  faults.Add(FailingFlush("late.dat"));
  std::wstring failed;
  EXPECT_FALSE(forcer.Finish(failed));
  EXPECT_EQ(failed, Wide(late));
}

// Files that one step adds and a later one moves again are committed as
// the last step left them.
TEST_F(CommitTest, FilesThatLaterStepsMoveAgainAreCommitted) {
  AddFile("bin\\twice.dll", "t1");
  ChangeFile("bin\\twice.dll", "installed", "t2");
  m_patched.back().oldChecksum = NolkUtil::ToWide(Md5("t1"));
  AddFile("bin\\brief.dll", "short-lived");
  RemoveFile("bin\\brief.dll");
  ChangeFile("bin\\again.dll", "g1", "g2");
  m_patched.push_back(m_patched.back());
  WriteLists();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(ReadBytes(Installed("bin\\twice.dll")), "t2");
  EXPECT_FALSE(fs::exists(Installed("bin\\brief.dll")));
  EXPECT_EQ(ReadBytes(Installed("bin\\again.dll")), "g2");
  EXPECT_TRUE(TakeSnapshot(m_install).Backups().empty());
}

TEST_F(CommitTest, AFileThatCannotBeOpenedIsAFailure) {
  const std::vector<std::wstring> files = WriteFiles(2);
  OS::ScopedFaults faults;
  OS::FaultRule refuse;
  refuse.operation = "OpenStream";
  refuse.pathContains = "file1";
  refuse.error = OS::ERROR_ACCESS_DENIED;
  faults.Add(refuse);
  std::wstring failed;
  EXPECT_FALSE(NolkPatch::ForceFilesToDisk(files, failed));
  EXPECT_EQ(failed, files[1]);
}

}  // namespace
