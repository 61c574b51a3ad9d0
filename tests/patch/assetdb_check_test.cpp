// The files-in-use check against other processes: the stand-in game
// attached, gone, or killed.
#include <gtest/gtest.h>
#include <signal.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "assetdb_test_support.h"
#include "patch/AssetDatabase.h"
#include "patch/AssetDatabaseBlock.h"
#include "patch/PatchSettings.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

using assetdbtest::AssetDbTest;
using assetdbtest::BlockExists;
using assetdbtest::RawBlock;
using assetdbtest::StandInGame;
using assetdbtest::ThisProcess;
using Block = NolkPatch::AssetDatabaseBlock;
namespace db = NolkPatch;

// Runs the check's pauses without waiting and counts them.
class AssetDbCheckTest : public AssetDbTest {
 protected:
  void SetUp() override {
    AssetDbTest::SetUp();
    OS::FaultRule noWait;
    noWait.operation = "Sleep";
    m_faults.Add(noWait);
  }
  int Pauses() const { return m_faults.Calls("Sleep"); }

 private:
  OS::ScopedFaults m_faults;
};

TEST_F(AssetDbCheckTest, FreeDatabaseIsHeldAtTheFirstAttempt) {
  ASSERT_TRUE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 0);
  EXPECT_EQ(db::GetAttachedCount(), 1);
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  EXPECT_EQ(raw.Signed(Block::OFFSET_HOLDER), ThisProcess());
  EXPECT_EQ(raw.Signed(Block::OFFSET_OWNER), ThisProcess());
}

TEST_F(AssetDbCheckTest, MissingInstallationFailsAfterThreeAttempts) {
  db::PatchSettings::Get().InstallPath = OS::FromUtf8(Folder() + "/missing");
  EXPECT_FALSE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 3) << "every failed attempt, the last included, is followed by a pause";
}

TEST_F(AssetDbCheckTest, BlockThatDoesNotCountIsLeftAgainAndAgain) {
  ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  raw.SetSigned(Block::OFFSET_FORMAT, 0);
  db::DisconnectDatabaseIpc();

  EXPECT_FALSE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 3);
  EXPECT_EQ(db::GetAttachedCount(), 0) << "each attempt disconnects from the unknown count";
  EXPECT_EQ(raw.Signed(Block::OFFSET_HOLDER), 0);
}

TEST_F(AssetDbCheckTest, AttachedGameKeepsTheCheckFromSucceeding) {
  StandInGame game;
  ASSERT_TRUE(game.Start(Folder()));
  EXPECT_FALSE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 3);
  EXPECT_EQ(db::GetAttachedCount(), 2);
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  EXPECT_EQ(raw.Signed(Block::OFFSET_CREATOR), game.Pid());
  EXPECT_EQ(raw.Signed(Block::OFFSET_HOLDER), 0);

  db::DisconnectDatabaseIpc();
  EXPECT_EQ(raw.Byte(Block::OFFSET_ATTACHED_COUNT), 1) << "the patcher took its share back";
}

TEST_F(AssetDbCheckTest, CheckSucceedsOnceTheGameHasLeft) {
  StandInGame game;
  ASSERT_TRUE(game.Start(Folder()));
  ASSERT_EQ(game.Leave(), 0);
  EXPECT_FALSE(BlockExists(DatabasePath())) << "the last process to leave removes the block";
  ASSERT_TRUE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 0);
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbCheckTest, BlockOfAKilledGameIsStaleAndStartsAfresh) {
  StandInGame game;
  ASSERT_TRUE(game.Start(Folder()));
  game.Kill();
  ASSERT_TRUE(db::CheckFilesNotInUse());
  EXPECT_EQ(Pauses(), 0);
  EXPECT_EQ(db::GetAttachedCount(), 1);
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  EXPECT_EQ(raw.Signed(Block::OFFSET_CREATOR), ThisProcess());
}

TEST_F(AssetDbCheckTest, GameThatJoinedAndLeftNoLongerCounts) {
  ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  StandInGame game;
  ASSERT_TRUE(game.Start(Folder()));
  EXPECT_EQ(db::GetAttachedCount(), 2);
  EXPECT_FALSE(db::TakeExclusiveHold());
  ASSERT_EQ(game.Leave(), 0);
  EXPECT_EQ(db::GetAttachedCount(), 1);
  EXPECT_TRUE(db::TakeExclusiveHold());
}

TEST_F(AssetDbCheckTest, GameCannotAttachWhileThePatcherHolds) {
  ASSERT_TRUE(db::CheckFilesNotInUse());
  StandInGame game;
  EXPECT_FALSE(game.Start(Folder()));
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbTest, AttachedGameMakesTheCheckFailAfterAboutSixSecondsLarge) {
  StandInGame game;
  ASSERT_TRUE(game.Start(Folder()));
  const std::uint32_t start = OS::Current().TickCount();
  EXPECT_FALSE(db::CheckFilesNotInUse());
  const std::uint32_t elapsed = OS::Current().TickCount() - start;
  EXPECT_GE(elapsed, 5900u);
  EXPECT_LT(elapsed, 9000u);
}

}  // namespace
