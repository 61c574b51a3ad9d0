// A run killed part way leaves ".pbk" backups and half-written files; the
// next run moves the backups back and then applies the patch normally.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "TreeSnapshot.h"
#include "patch/PatchEngine.h"
#include "patch/PatchGuard.h"
#include "patch/PatchJournal.h"
#include "patch/PatchSettings.h"

namespace {

using namespace enginetest;

class RecoveryTest : public EngineTest {
 protected:
  // The patch: one file added over an existing one, one deleted, three
  // changed. m_expected is the installation after a clean run.
  void SetUp() override {
    EngineTest::SetUp();
    InstallCopyingDiffTool();
    WriteInstalled("readme.txt", "the user's notes");
    WriteInstalled("bin\\tool.dll", "tool 1");
    AddFile("bin\\tool.dll", "tool 2");
    AddFile("maps\\new.map", "new map");
    WriteInstalled("old.dat", "obsolete");
    RemoveFile("old.dat");
    ChangeFile("bin\\a.dll", "a1", "a2");
    ChangeFile("bin\\b.dll", "b1", "b2");
    ChangeFile("bin\\c.dll", "c1", "c2");
    WriteLists();
    ExpectedAfterCleanRun();
  }

  void ExpectedAfterCleanRun() {
    const TreeSnapshot start = TakeSnapshot(m_install);
    ASSERT_TRUE(NolkPatch::ApplyPatch(Wide(m_install), Wide(m_patch), L"NolkLauncher.exe"));
    m_expected = TakeSnapshot(m_install);
    // Back to the old version for the test itself.
    fs::remove_all(m_install);
    for (const auto& [path, bytes] : start.entries) {
      if (bytes) {
        WriteBytes(m_install / path, *bytes);
      } else {
        fs::create_directories(m_install / path);
      }
    }
    fs::permissions(m_install / "bin" / "vpatchl-w32.exe", fs::perms::owner_all);
    fs::remove(ToolLog());
    m_messages.clear();
  }

  void ExpectNewVersion() {
    const TreeSnapshot after = TakeSnapshot(m_install);
    EXPECT_EQ(after, m_expected) << DescribeDifferences(m_expected, after);
  }

  TreeSnapshot m_expected;
};

TEST_F(RecoveryTest, RunKilledDuringThePatchedStepIsCompleted) {
  // Killed while the tool wrote b.dll: the added files are in, the user's
  // tool.dll and old.dat are backups, a.dll is done, b.dll half written.
  WriteBytes(Installed("bin\\tool.dll.pbk"), "tool 1");
  WriteInstalled("bin\\tool.dll", "tool 2");
  WriteInstalled("maps\\new.map", "new map");
  fs::rename(Installed("old.dat"), Installed("old.dat.pbk"));
  fs::rename(Installed("bin\\a.dll"), Installed("bin\\a.dll.pbk"));
  WriteInstalled("bin\\a.dll", "a2");
  fs::rename(Installed("bin\\b.dll"), Installed("bin\\b.dll.pbk"));
  WriteInstalled("bin\\b.dll", "b2 half");

  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewVersion();
  EXPECT_TRUE(HasMessage(1, L"Restored backup left by an interrupted patch: " + Shown("bin\\tool.dll")));
  EXPECT_TRUE(HasMessage(1, L"Restored backup left by an interrupted patch: " + Shown("old.dat")));
  EXPECT_TRUE(HasMessage(1, L"Restored backup left by an interrupted patch: " + Shown("bin\\a.dll")));
  EXPECT_TRUE(HasMessage(1, L"Restored backup left by an interrupted patch: " + Shown("bin\\b.dll")));
  EXPECT_EQ(PatchingFlag(), std::nullopt);
}

TEST_F(RecoveryTest, RunKilledBeforeTheToolWroteAnything) {
  fs::rename(Installed("bin\\c.dll"), Installed("bin\\c.dll.pbk"));
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewVersion();
}

TEST_F(RecoveryTest, RunKilledWhileDroppingBackupsIsCompleted) {
  // Everything was patched; only some backups were deleted.
  for (const char* name : {"bin\\a.dll", "bin\\b.dll", "bin\\c.dll"}) {
    fs::rename(Installed(name), Installed(std::string(name) + ".pbk"));
  }
  WriteInstalled("bin\\a.dll", "a2");
  fs::remove(Installed("bin\\a.dll.pbk"));
  WriteInstalled("bin\\b.dll", "b2");
  WriteInstalled("bin\\c.dll", "c2");
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewVersion();
}

TEST_F(RecoveryTest, BackupThatCannotBeMovedBackStopsTheRun) {
  fs::rename(Installed("old.dat"), Installed("old.dat.pbk"));
  const TreeSnapshot before = TakeSnapshot(m_install);
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "MoveFile";
  rule.pathContains = "old.dat.pbk";
  faults.Add(rule);
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(TakeSnapshot(m_install), before);
  EXPECT_TRUE(HasMessage(2, L"Failed to restore backup file " + Shown("old.dat")));
  EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
}

TEST_F(RecoveryTest, StaleBackupBesideAnIntactFileIsNeitherRestoredNorDeleted) {
  WriteBytes(Installed("bin\\a.dll.pbk"), "an unrelated old copy");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(TakeSnapshot(m_install), before);
  for (const auto& message : m_messages) EXPECT_NE(message.first, 1) << NolkUtil::ToNarrow(message.second);
}

}  // namespace

namespace {

using namespace enginetest;

class JournalTest : public RecoveryTest {};

// A journal that names another patch in progress: its backups are not this
// patch's, so nothing is touched.
TEST_F(JournalTest, AnotherPatchInProgressIsRefusedBeforeAnythingChanges) {
  fs::rename(Installed("bin\\a.dll"), Installed("bin\\a.dll.pbk"));
  WriteInstalled("bin\\a.dll", "a from the other patch");
  NolkPatch::PatchJournal journal;
  journal.rebuildOwed = true;
  journal.phase = NolkPatch::JournalPhase::Applying;
  journal.patch = "50_to_60";
  ASSERT_TRUE(NolkPatch::WritePatchJournal(Wide(m_install), journal));
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(TakeSnapshot(m_install), before);
  NolkPatch::PatchJournal after;
  ASSERT_TRUE(NolkPatch::ReadPatchJournal(Wide(m_install), after));
  EXPECT_EQ(after.patch, "50_to_60");
}

// The journal of this very patch says every backup is its own, so even one
// that looks unrelated is moved back.
TEST_F(JournalTest, ThisPatchInProgressRestoresEveryBackup) {
  WriteBytes(Installed("bin\\a.dll.pbk"), "a1");
  WriteInstalled("bin\\a.dll", "garbage the killed tool left");
  NolkPatch::PatchJournal journal;
  journal.phase = NolkPatch::JournalPhase::Applying;
  journal.patch = NolkPatch::PatchSettings::Get().PatchName();
  ASSERT_TRUE(NolkPatch::WritePatchJournal(Wide(m_install), journal));
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewVersion();
  NolkPatch::PatchJournal after;
  ASSERT_TRUE(NolkPatch::ReadPatchJournal(Wide(m_install), after));
  EXPECT_EQ(after.phase, NolkPatch::JournalPhase::None);
  EXPECT_TRUE(after.rebuildOwed);
}

// The commit point: after a committed run the next one drops the listed
// backups, read-only ones included, and clears the marker.
TEST_F(JournalTest, CommittedPatchLeftoversAreDropped) {
  WriteBytes(Installed("bin\\a.dll.pbk"), "a1");
  fs::permissions(Installed("bin\\a.dll.pbk"), fs::perms::owner_read);
  NolkPatch::PatchJournal journal;
  journal.rebuildOwed = true;
  journal.phase = NolkPatch::JournalPhase::Committed;
  journal.patch = "100_to_200";
  journal.backups = {Wide(Installed("bin\\a.dll.pbk"))};
  ASSERT_TRUE(NolkPatch::WritePatchJournal(Wide(m_install), journal));
  ASSERT_TRUE(NolkPatch::SettleCommittedPatch());
  EXPECT_FALSE(fs::exists(Installed("bin\\a.dll.pbk")));
  NolkPatch::PatchJournal after;
  ASSERT_TRUE(NolkPatch::ReadPatchJournal(Wide(m_install), after));
  EXPECT_EQ(after.phase, NolkPatch::JournalPhase::None);
  EXPECT_TRUE(after.rebuildOwed);
}

TEST(JournalFormat, RoundTripsAndRefusesWhatIsNotAJournal) {
  NolkPatch::PatchJournal journal;
  journal.rebuildOwed = true;
  journal.phase = NolkPatch::JournalPhase::Committed;
  journal.patch = "100_to_200";
  journal.backups = {L"/games/ombrix/bin/\u00e9t\u00e9.dll.pbk"};
  NolkPatch::PatchJournal read;
  ASSERT_TRUE(NolkPatch::ParsePatchJournal(NolkPatch::FormatPatchJournal(journal), read));
  EXPECT_EQ(read.patch, journal.patch);
  EXPECT_EQ(read.backups, journal.backups);
  EXPECT_TRUE(read.rebuildOwed);
  const std::string text = NolkPatch::FormatPatchJournal(journal);
  EXPECT_FALSE(NolkPatch::ParsePatchJournal(text.substr(0, text.size() - 1), read)) << "cut short";
  EXPECT_FALSE(NolkPatch::ParsePatchJournal("KorvelPatchJournal 1\nphase=applying\n", read)) << "no patch";
  EXPECT_FALSE(NolkPatch::ParsePatchJournal("KorvelPatchJournal 1\nfoo=bar\n", read));
  EXPECT_FALSE(NolkPatch::ParsePatchJournal("something else\n", read));
  EXPECT_FALSE(NolkPatch::ParsePatchJournal(
      "KorvelPatchJournal 1\nphase=applying\npatch=1_to_2\nbackup=x.pbk\n", read))
      << "only a committed patch lists backups to drop";
}

}  // namespace
