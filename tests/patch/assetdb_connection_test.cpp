// Connecting to the asset database block, its layout, and the ownership
// operations, within this process (other processes are played by a second
// view of the block).
#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "assetdb_test_support.h"
#include "patch/AssetDatabase.h"
#include "patch/AssetDatabaseBlock.h"

namespace {

using assetdbtest::AssetDbTest;
using assetdbtest::BlockExists;
using assetdbtest::RawBlock;
using assetdbtest::ThisProcess;
using Block = NolkPatch::AssetDatabaseBlock;
namespace db = NolkPatch;

constexpr std::int32_t kOtherProcess = 424242;

class AssetDbConnectionTest : public AssetDbTest {};

TEST_F(AssetDbConnectionTest, CreatorWritesTheInitialBlock) {
  ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  std::vector<std::uint8_t> bytes = raw.Bytes();
#ifdef _WIN32
  // A section opened by name is seen as whole pages; the block is the start.
  ASSERT_GE(bytes.size(), 32u);
  bytes.resize(32);
#else
  ASSERT_EQ(bytes.size(), 32u);
#endif
  const auto pid = static_cast<std::uint32_t>(ThisProcess());
  const std::vector<std::uint8_t> expected = {static_cast<std::uint8_t>(pid),
                                              static_cast<std::uint8_t>(pid >> 8),
                                              static_cast<std::uint8_t>(pid >> 16),
                                              static_cast<std::uint8_t>(pid >> 24),  // creator
                                              0xFF,
                                              0xFF,
                                              0xFF,
                                              0xFF,  // owner: none
                                              0xFF,
                                              0xFF,
                                              0xFF,
                                              0xFF,  // requester: none
                                              0,
                                              0,
                                              0,
                                              0,  // change counter
                                              2,
                                              0,
                                              0,
                                              0,  // format word
                                              1,
                                              0,
                                              0,
                                              0,  // attached count, reserved
                                              0,
                                              0,
                                              0,
                                              0,  // exclusive holder: none
                                              0,
                                              0,
                                              0,
                                              0};  // lend flag, reserved
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbConnectionTest, ConnectingTwiceKeepsTheOneConnection) {
  ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  EXPECT_TRUE(db::ConnectDatabaseIpc(Folder() + "/elsewhere/ASSETS.ODX", false));
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbConnectionTest, WrongPathsAndMissingFoldersDoNotConnect) {
  EXPECT_FALSE(db::ConnectDatabaseIpc(Folder() + "/assets.dat", false));
  EXPECT_FALSE(db::ConnectDatabaseIpc(Folder() + "/missing/assets.odx", false));
  EXPECT_EQ(db::GetAttachedCount(), 0);
  EXPECT_FALSE(BlockExists(Folder() + "/missing/assets.odx"));
  EXPECT_TRUE(db::ConnectDatabaseIpc(Folder() + "/Assets.ODX", false)) << "the name in any letter case";
}

TEST_F(AssetDbConnectionTest, RefusedMutexOrBlockMeansNoConnection) {
  OS::ScopedFaults faults;
  OS::FaultRule refuseMutex;
  refuseMutex.operation = "CreateNamedMutex";
  refuseMutex.count = 1;
  faults.Add(refuseMutex);
  EXPECT_FALSE(db::ConnectDatabaseIpc(DatabasePath(), false));

  OS::FaultRule refuseBlock;
  refuseBlock.operation = "CreateSharedMemory";
  refuseBlock.count = 1;
  faults.Add(refuseBlock);
  EXPECT_FALSE(db::ConnectDatabaseIpc(DatabasePath(), false));
  EXPECT_EQ(db::GetAttachedCount(), 0);
  // The failed creator released its mutex: the next attempt makes the block.
  EXPECT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbConnectionTest, LastDisconnectRemovesTheBlock) {
  ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
  EXPECT_TRUE(BlockExists(DatabasePath()));
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(db::GetAttachedCount(), 0);
  EXPECT_FALSE(BlockExists(DatabasePath()));
}

// Keeps the block alive through a second view while this process leaves
// and joins again, so that it joins as a second process would.
class AssetDbJoinTest : public AssetDbTest {
 protected:
  void SetUp() override {
    AssetDbTest::SetUp();
    ASSERT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), false));
    m_raw = std::make_unique<RawBlock>(DatabasePath());
    ASSERT_TRUE(m_raw->Open());
  }
  void TearDown() override {
    AssetDbTest::TearDown();
    m_raw.reset();
  }
  // Leaves, lets `othersAttached` programs be counted (when not negative)
  // and joins again.
  void Rejoin(bool acceptLent, bool expectJoined, int othersAttached = -1) {
    db::DisconnectDatabaseIpc();
    if (othersAttached >= 0)
      Raw().SetByte(Block::OFFSET_ATTACHED_COUNT, static_cast<std::uint8_t>(othersAttached));
    EXPECT_EQ(db::ConnectDatabaseIpc(DatabasePath(), acceptLent), expectJoined);
  }
  RawBlock& Raw() { return *m_raw; }

 private:
  std::unique_ptr<RawBlock> m_raw;
};

TEST_F(AssetDbJoinTest, CreatorLeavingMarksTheBlockAndLowersTheCount) {
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(Raw().Signed(Block::OFFSET_CREATOR), -1);
  EXPECT_EQ(Raw().Byte(Block::OFFSET_ATTACHED_COUNT), 0);
}

TEST_F(AssetDbJoinTest, JoinerCountsItselfAndTakesItsShareBackOnLeaving) {
  Rejoin(false, true, 1);
  EXPECT_EQ(db::GetAttachedCount(), 2);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_CREATOR), -1) << "joining does not make a creator";
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(Raw().Byte(Block::OFFSET_ATTACHED_COUNT), 1)
      << "a joiner that stayed counted would block every later exclusive hold";
  EXPECT_EQ(Raw().Signed(Block::OFFSET_CREATOR), -1);
}

TEST_F(AssetDbJoinTest, BlockWithoutCountingGetsTheUnknownCount) {
  Raw().SetSigned(Block::OFFSET_FORMAT, 0);
  Rejoin(false, true, 1);
  EXPECT_EQ(db::GetAttachedCount(), 255);
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(Raw().Byte(Block::OFFSET_ATTACHED_COUNT), 255) << "nothing was counted, nothing is taken back";
}

TEST_F(AssetDbJoinTest, ExclusiveHoldKeepsJoinersOutUnlessLentAndAccepted) {
  Raw().SetSigned(Block::OFFSET_HOLDER, kOtherProcess);
  Rejoin(false, false);
  EXPECT_EQ(db::GetAttachedCount(), 0);
  EXPECT_EQ(Raw().Byte(Block::OFFSET_ATTACHED_COUNT), 0) << "a refused joiner leaves the count alone";
  EXPECT_FALSE(db::ConnectDatabaseIpc(DatabasePath(), true)) << "the holder does not lend";

  Raw().SetByte(Block::OFFSET_LENDS_OWNERSHIP, 1);
  EXPECT_FALSE(db::ConnectDatabaseIpc(DatabasePath(), false));
  EXPECT_TRUE(db::ConnectDatabaseIpc(DatabasePath(), true));
  EXPECT_EQ(db::GetAttachedCount(), 1);
}

TEST_F(AssetDbJoinTest, OwnershipIsTakenOnlyWhenFreeAndRequestsQueue) {
  Raw().SetSigned(Block::OFFSET_OWNER, kOtherProcess);
  EXPECT_FALSE(db::TryOwnDatabase(false));
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), -1) << "no request without the request flag";
  EXPECT_FALSE(db::TryOwnDatabase(true));
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), ThisProcess());

  Raw().SetSigned(Block::OFFSET_OWNER, -1);
  EXPECT_TRUE(db::TryOwnDatabase(false)) << "the waiting requester gets it";
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), ThisProcess());
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), -1);
  EXPECT_TRUE(db::TryOwnDatabase(false)) << "owning already";

  Raw().SetSigned(Block::OFFSET_OWNER, -1);
  Raw().SetSigned(Block::OFFSET_REQUESTER, kOtherProcess);
  EXPECT_FALSE(db::TryOwnDatabase(true)) << "another process asked first";
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), kOtherProcess);
}

TEST_F(AssetDbJoinTest, LeavingWithdrawsAPendingRequest) {
  Rejoin(false, true, 1);
  Raw().SetSigned(Block::OFFSET_OWNER, kOtherProcess);
  ASSERT_FALSE(db::TryOwnDatabase(true));
  ASSERT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), ThisProcess());
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), -1);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), kOtherProcess) << "another's ownership stays";
}

TEST_F(AssetDbJoinTest, HoldLendAndRetakeMoveTheOwnership) {
  ASSERT_TRUE(db::TakeExclusiveHold());
  EXPECT_EQ(Raw().Signed(Block::OFFSET_HOLDER), ThisProcess());
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), ThisProcess());
  EXPECT_FALSE(db::TakeExclusiveHold()) << "a holder is set";

  ASSERT_TRUE(db::LendOwnership());
  EXPECT_EQ(Raw().Byte(Block::OFFSET_LENDS_OWNERSHIP), 1);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), -1);

  Raw().SetByte(Block::OFFSET_ATTACHED_COUNT, 2);
  EXPECT_FALSE(db::RetakeOwnership()) << "the borrower is still attached";
  Raw().SetByte(Block::OFFSET_ATTACHED_COUNT, 1);
  ASSERT_TRUE(db::RetakeOwnership());
  EXPECT_EQ(Raw().Byte(Block::OFFSET_LENDS_OWNERSHIP), 0);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), ThisProcess());

  db::ReleaseExclusiveHold();
  EXPECT_EQ(Raw().Signed(Block::OFFSET_HOLDER), 0);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), -1);
}

TEST_F(AssetDbJoinTest, HoldIsRefusedWhileOthersAreAttachedOrOwn) {
  Raw().SetByte(Block::OFFSET_ATTACHED_COUNT, 2);
  EXPECT_FALSE(db::TakeExclusiveHold());
  Raw().SetByte(Block::OFFSET_ATTACHED_COUNT, 1);
  Raw().SetSigned(Block::OFFSET_OWNER, kOtherProcess);
  EXPECT_FALSE(db::TakeExclusiveHold());
  EXPECT_EQ(Raw().Signed(Block::OFFSET_HOLDER), 0);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_REQUESTER), ThisProcess());
}

TEST_F(AssetDbJoinTest, OnlyTheHolderLendsRetakesOrReleases) {
  Raw().SetSigned(Block::OFFSET_HOLDER, kOtherProcess);
  Raw().SetSigned(Block::OFFSET_OWNER, kOtherProcess);
  EXPECT_FALSE(db::LendOwnership());
  EXPECT_FALSE(db::RetakeOwnership());
  db::ReleaseExclusiveHold();
  EXPECT_EQ(Raw().Signed(Block::OFFSET_HOLDER), kOtherProcess);
  EXPECT_EQ(Raw().Byte(Block::OFFSET_LENDS_OWNERSHIP), 0);
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), kOtherProcess);
}

TEST_F(AssetDbJoinTest, DisconnectGivesUpOwnership) {
  ASSERT_TRUE(db::TryOwnDatabase(true));
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(Raw().Signed(Block::OFFSET_OWNER), -1);
}

TEST(AssetDbUnconnectedTest, OperationsWithoutAConnectionFail) {
  db::DisconnectDatabaseIpc();
  EXPECT_EQ(db::GetAttachedCount(), 0);
  EXPECT_FALSE(db::TryOwnDatabase(true));
  EXPECT_FALSE(db::TakeExclusiveHold());
  EXPECT_FALSE(db::LendOwnership());
  EXPECT_FALSE(db::RetakeOwnership());
  db::ReleaseExclusiveHold();
  db::DisconnectDatabaseIpc();
}

}  // namespace
