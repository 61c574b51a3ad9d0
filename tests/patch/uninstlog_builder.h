// Test helpers for the uninstaller log: a builder for well-formed logs, an
// independent reader that checks every block of a log, and a fixture with
// a fresh installation and patch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/UninstallLogFormat.h"

namespace uninstlog {

using NolkPatch::ByteVector;

std::uint32_t GetU32(const ByteVector& bytes, std::size_t offset);
void PutU32(ByteVector& bytes, std::size_t offset, std::uint32_t value);

// `size` bytes of a recognisable pattern standing for existing records.
ByteVector FillerRecords(std::size_t size, unsigned seed = 1);
// The 28-byte closing record the builder puts last.
ByteVector ClosingRecord();

// A log whose header holds `recordCount` and an end offset equal to the file
// length, and whose block data is `records` followed by the closing record,
// cut into 4,096-byte blocks with a short last block (when the data ends on
// a boundary there is no short block).
ByteVector BuildLog(const ByteVector& records, std::int32_t recordCount);
// Recomputes the header checksum / the checksum of the block at `offset`.
void ResealHeader(ByteVector& log);
void ResealBlock(ByteVector& log, std::size_t offset);

// A log read block by block without the code under test.
struct ReadLog {
  bool valid = false;              // header and every block check out and tile the file
  std::vector<std::size_t> sizes;  // data size of each block
  ByteVector data;                 // the data of all blocks joined
  std::int32_t recordCount = 0;
  std::int32_t endOffset = 0;
};
ReadLog ReadBack(const ByteVector& log);

ByteVector ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const ByteVector& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);

// An addedFiles.txt body: each path followed by an MD5 line and an empty
// line, lines ended by CR LF.
std::string AddedList(const std::vector<std::string>& paths);

// A fresh temporary folder holding "install" and "patch"; collects the
// engine's messages.
class UninstallLogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path LogPath() const { return m_install / "unins000.dat"; }
  // The log's path as messages show it: in Windows' own separator there.
  std::wstring ShownLogPath() const { return std::filesystem::path(LogPath()).make_preferred().wstring(); }
  std::filesystem::path TempPath() const { return m_install / "unins000_temp.dat"; }
  std::filesystem::path BackupPath() const { return m_install / "unins000_backup.dat"; }
  void WriteAdded(const std::vector<std::string>& paths);
  bool Update();
  // The record path the update writes for a list path: JoinPath's "/", then
  // the list path with its own '\' separators kept.
  std::string RecordPath(const std::string& listPath) const;
  std::vector<std::string> InstallEntries() const;
  bool HasMessage(int level, const std::wstring& text) const;

  std::filesystem::path m_root;
  std::filesystem::path m_install;
  std::filesystem::path m_patch;
  std::vector<std::pair<int, std::wstring>> m_messages;
};

}  // namespace uninstlog
