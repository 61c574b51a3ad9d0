// UpdateUninstallLog on well-formed logs: what is appended, where, and how
// the header follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/Crc32.h"
#include "patch/UninstallLogFormat.h"
#include "uninstlog_builder.h"

namespace {

using namespace uninstlog;
using NolkPatch::BuildDeleteFileRecord;

ByteVector Join(std::initializer_list<ByteVector> parts) {
  ByteVector joined;
  for (const ByteVector& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

class UninstallLogUpdate : public UninstallLogTest {
 protected:
  // Writes a log, updates it with `listPaths` and reads the result back.
  ReadLog UpdateWith(const ByteVector& records, std::int32_t count,
                     const std::vector<std::string>& listPaths) {
    m_original = BuildLog(records, count);
    WriteFileBytes(LogPath(), m_original);
    WriteAdded(listPaths);
    EXPECT_TRUE(Update());
    m_updated = ReadFileBytes(LogPath());
    return ReadBack(m_updated);
  }

  ByteVector RecordsFor(const std::vector<std::string>& listPaths) const {
    ByteVector bytes;
    for (const std::string& path : listPaths) {
      const ByteVector record = BuildDeleteFileRecord(RecordPath(path));
      bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
  }

  ByteVector m_original;
  ByteVector m_updated;
};

TEST_F(UninstallLogUpdate, NoAddedFilesLeavesTheLogUntouched) {
  const ByteVector log = BuildLog(FillerRecords(300), 7);
  WriteFileBytes(LogPath(), log);
  // Whole seconds, which every file system keeps exactly.
  const std::filesystem::file_time_type past = std::chrono::time_point_cast<std::chrono::seconds>(
      std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
  std::filesystem::last_write_time(LogPath(), past);
  WriteText(m_patch / "addedFiles.txt", "");

  EXPECT_TRUE(Update());
  EXPECT_EQ(ReadFileBytes(LogPath()), log);
  EXPECT_EQ(std::filesystem::last_write_time(LogPath()), past);
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(UninstallLogUpdate, MissingListPostsAnErrorAndChangesNothing) {
  const ByteVector log = BuildLog(FillerRecords(300), 7);
  WriteFileBytes(LogPath(), log);

  EXPECT_TRUE(Update());
  EXPECT_EQ(ReadFileBytes(LogPath()), log);
  const std::wstring listPath = m_patch.wstring() + L"/addedFiles.txt";
  EXPECT_TRUE(HasMessage(2, L"Could not open: " + listPath + L" for reading. The file might not be present"));
}

TEST_F(UninstallLogUpdate, MissingLogIsNotAnErrorAndNothingIsCreated) {
  WriteAdded({"bin\\new.dll"});
  EXPECT_TRUE(Update());
  EXPECT_TRUE(InstallEntries().empty());
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(UninstallLogUpdate, RecordGoesBeforeTheClosingRecordOfTheLastBlock) {
  const ByteVector oldRecords = FillerRecords(72);
  const ReadLog read = UpdateWith(oldRecords, 5, {"bin\\new.dll"});
  ASSERT_TRUE(read.valid);

  const ByteVector added = RecordsFor({"bin\\new.dll"});
  ASSERT_EQ(added.size(), 12 + RecordPath("bin\\new.dll").size());
  EXPECT_EQ(read.sizes, std::vector<std::size_t>{100 + added.size()});
  EXPECT_EQ(read.data, Join({oldRecords, added, ClosingRecord()}));
  EXPECT_EQ(read.recordCount, 6);
  EXPECT_EQ(static_cast<std::size_t>(read.endOffset), m_updated.size());
  EXPECT_EQ(m_updated.size(), m_original.size() + added.size());
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
}

TEST_F(UninstallLogUpdate, HeaderOutsideCountAndEndOffsetIsKept) {
  UpdateWith(FillerRecords(72), 5, {"bin\\new.dll"});
  ASSERT_GE(m_updated.size(), NolkPatch::kUninstallHeaderSize);
  EXPECT_TRUE(std::equal(m_original.begin(), m_original.begin() + 324, m_updated.begin()));
  EXPECT_TRUE(std::equal(m_original.begin() + 332, m_original.begin() + 444, m_updated.begin() + 332));
  EXPECT_EQ(GetU32(m_updated, 444), NolkPatch::Crc32::Of(m_updated.data(), 444));
}

TEST_F(UninstallLogUpdate, RecordCrossingTheBlockBoundaryIsSplit) {
  // 3,972 + 28 = 4,000 bytes in the last block; a record of more than 96
  // bytes reaches past 4,096.
  const ByteVector oldRecords = FillerRecords(3972);
  const std::string longPath = "data\\" + std::string(150, 'x') + ".pak";
  const ReadLog read = UpdateWith(oldRecords, 40, {longPath});
  ASSERT_TRUE(read.valid);

  const ByteVector added = RecordsFor({longPath});
  ASSERT_GT(3972 + added.size(), 4096u);
  EXPECT_EQ(read.sizes, (std::vector<std::size_t>{4096, 3972 + added.size() + 28 - 4096}));
  EXPECT_EQ(read.data, Join({oldRecords, added, ClosingRecord()}));
  EXPECT_EQ(read.recordCount, 41);
  EXPECT_EQ(static_cast<std::size_t>(read.endOffset), m_updated.size());
}

TEST_F(UninstallLogUpdate, FullBlocksAreCopiedAndManyRecordsSpanNewBlocks) {
  // Two full blocks and a short one; 60 long records add several blocks.
  const ByteVector oldRecords = FillerRecords(2 * 4096 + 500, 9);
  std::vector<std::string> listPaths;
  for (int i = 0; i < 60; ++i)
    listPaths.push_back("maps\\region" + std::to_string(i) + std::string(200, 'm'));
  const ReadLog read = UpdateWith(oldRecords, 100, listPaths);
  ASSERT_TRUE(read.valid);

  const std::size_t fullBlocksEnd = 448 + 2 * 4108;
  EXPECT_TRUE(
      std::equal(m_original.begin() + 448, m_original.begin() + fullBlocksEnd, m_updated.begin() + 448));
  const ByteVector expected = Join({oldRecords, RecordsFor(listPaths), ClosingRecord()});
  EXPECT_EQ(read.data, expected);
  EXPECT_EQ(read.sizes.size(), (expected.size() + 4095) / 4096);
  EXPECT_EQ(read.recordCount, 160);
  EXPECT_EQ(static_cast<std::size_t>(read.endOffset), m_updated.size());
}

TEST_F(UninstallLogUpdate, ClosingRecordEndingOnTheBoundaryAddsNoEmptyBlock) {
  const std::size_t recordSize = BuildDeleteFileRecord(RecordPath("a.txt")).size();
  const ByteVector oldRecords = FillerRecords(4096 - 28 - recordSize);
  const ReadLog read = UpdateWith(oldRecords, 1, {"a.txt"});
  ASSERT_TRUE(read.valid);
  EXPECT_EQ(read.sizes, std::vector<std::size_t>{4096});
  EXPECT_EQ(static_cast<std::size_t>(read.endOffset), m_updated.size());
  EXPECT_EQ(m_updated.size(), 448u + 4108u);
}

TEST_F(UninstallLogUpdate, ListIsReadInCompleteGroupsOfThreeInOrder) {
  // Mixed line ends; the last group lacks its third line and is not used.
  WriteText(m_patch / "addedFiles.txt", "bin\\one.dll\r\nmd5\r\n\nsub\\two.txt\rmd5\n\r\nthree.bin\nmd5");
  const ByteVector oldRecords = FillerRecords(72);
  m_original = BuildLog(oldRecords, 5);
  WriteFileBytes(LogPath(), m_original);
  ASSERT_TRUE(Update());

  const ReadLog read = ReadBack(ReadFileBytes(LogPath()));
  ASSERT_TRUE(read.valid);
  EXPECT_EQ(read.data, Join({oldRecords, RecordsFor({"bin\\one.dll", "sub\\two.txt"}), ClosingRecord()}));
  EXPECT_EQ(read.recordCount, 7);
}

TEST_F(UninstallLogUpdate, BackupLeftByAnInterruptedReplacementIsRestoredFirst) {
  const ByteVector oldRecords = FillerRecords(72);
  WriteFileBytes(BackupPath(), BuildLog(oldRecords, 5));
  WriteAdded({"bin\\new.dll"});
  ASSERT_TRUE(Update());

  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  const ReadLog read = ReadBack(ReadFileBytes(LogPath()));
  ASSERT_TRUE(read.valid);
  EXPECT_EQ(read.data, Join({oldRecords, RecordsFor({"bin\\new.dll"}), ClosingRecord()}));
}

TEST_F(UninstallLogUpdate, StaleBackupBesideTheLogIsDeletedAndTheLogUpdated) {
  const ByteVector oldRecords = FillerRecords(72);
  WriteFileBytes(BackupPath(), BuildLog(FillerRecords(300, 7), 9));
  const ReadLog read = UpdateWith(oldRecords, 5, {"bin\\new.dll"});

  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  ASSERT_TRUE(read.valid);
  EXPECT_EQ(read.data, Join({oldRecords, RecordsFor({"bin\\new.dll"}), ClosingRecord()}));
  EXPECT_EQ(read.recordCount, 6);
}

TEST_F(UninstallLogUpdate, UpdatedLogCanBeUpdatedAgain) {
  const ByteVector oldRecords = FillerRecords(500);
  UpdateWith(oldRecords, 5, {"first.dll"});
  WriteAdded({"second.dll"});
  ASSERT_TRUE(Update());
  const ByteVector twice = ReadFileBytes(LogPath());
  const ReadLog read = ReadBack(twice);
  ASSERT_TRUE(read.valid);
  EXPECT_EQ(read.data, Join({oldRecords, RecordsFor({"first.dll", "second.dll"}), ClosingRecord()}));
  EXPECT_EQ(read.recordCount, 7);
  EXPECT_EQ(static_cast<std::size_t>(read.endOffset), twice.size());
}

}  // namespace
