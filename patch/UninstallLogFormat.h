// The byte layout of the game installer's uninstall log ("unins000.dat") and
// the one change the patcher makes to it: appending delete-file records for
// the files a patch added. Pure in-memory work; UninstallLog.cpp does the
// file handling.
//
// Layout (little-endian):
//   header, 448 bytes: 0..323 identification, 324 record count (int32),
//     328 end offset (int32), 332..443 flags and reserved, 444 CRC-32 of
//     bytes 0..443;
//   blocks from offset 448 to the end of the file, each a 12-byte block
//     header (data size n, ~n, CRC-32 of the data) followed by n data bytes;
//     every block but the last holds exactly 4,096 bytes.
// The data of all blocks is one sequence of records; the last 28 bytes of
// the last block are the closing record, which must stay last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace NolkPatch {

using ByteVector = std::vector<unsigned char>;

inline constexpr std::size_t kUninstallHeaderSize = 448;
inline constexpr std::size_t kUninstallRecordCountOffset = 324;
inline constexpr std::size_t kUninstallEndOffsetOffset = 328;
inline constexpr std::size_t kUninstallHeaderCrcOffset = 444;
inline constexpr std::size_t kUninstallBlockHeaderSize = 12;
inline constexpr std::size_t kUninstallBlockDataSize = 4096;
inline constexpr std::size_t kUninstallClosingRecordSize = 28;
inline constexpr std::uint16_t kUninstallDeleteFileRecord = 0x0082;

// Where the last (short) block of a well-formed log lies.
struct UninstallLogLayout {
  std::size_t lastBlockOffset = 0;  // offset of the last block's header
  std::size_t lastBlockSize = 0;    // its data size, 28..4095
};

// Checks that the log can take an update and finds its last block. False
// when the header is shorter than 448 bytes or its checksum is wrong, a
// block header is cut off, its size and complement disagree, its size is
// above 4,096, its data is cut off or fails its checksum, the data ends
// exactly on a 4,096-byte boundary, the last block is shorter than the
// closing record, or bytes follow the last block. Never reads outside `log`.
bool ParseUninstallLogLayout(const ByteVector& log, UninstallLogLayout& layout);

// One delete-file record for an 8-bit path: type 0x0082, extra data 0, data
// size, length prefix (one byte up to 252; 0xFD and 16 bits up to 65,535;
// 0xFE and 32 bits beyond), the path without terminator, and 0xFF.
ByteVector BuildDeleteFileRecord(const std::string& path);

enum class UninstallLogEdit {
  EDIT_OK,
  EDIT_UNEXPECTED_LAYOUT,  // ParseUninstallLogLayout refused the log
  EDIT_TOO_LARGE           // record count or end offset would leave int32
};

// Builds in `updated` the log with one delete-file record per path appended
// before the closing record. `log` itself is not changed.
UninstallLogEdit AppendDeleteFileRecords(const ByteVector& log, const std::vector<std::string>& paths,
                                         ByteVector& updated);

}  // namespace NolkPatch
