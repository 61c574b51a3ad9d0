#include "patch/UninstallLogFormat.h"

#include <limits>

#include "patch/Crc32.h"

namespace NolkPatch {
namespace {

std::uint32_t ReadU32(const ByteVector& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void WriteU32(ByteVector& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void AppendLittleEndian(ByteVector& bytes, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool HeaderChecksumMatches(const ByteVector& log) {
  return Crc32::Of(log.data(), kUninstallHeaderCrcOffset) == ReadU32(log, kUninstallHeaderCrcOffset);
}

enum class BlockCheck { BLOCK_FULL, BLOCK_LAST, BLOCK_BAD };

// Checks the block whose header starts at `offset`; stores its data size.
BlockCheck CheckBlock(const ByteVector& log, std::size_t offset, std::size_t& size) {
  if (log.size() - offset < kUninstallBlockHeaderSize) return BlockCheck::BLOCK_BAD;
  const std::uint32_t declared = ReadU32(log, offset);
  if (ReadU32(log, offset + 4) != ~declared || declared > kUninstallBlockDataSize)
    return BlockCheck::BLOCK_BAD;
  const std::size_t dataOffset = offset + kUninstallBlockHeaderSize;
  if (log.size() - dataOffset < declared) return BlockCheck::BLOCK_BAD;
  if (Crc32::Of(log.data() + dataOffset, declared) != ReadU32(log, offset + 8)) return BlockCheck::BLOCK_BAD;
  size = declared;
  return declared == kUninstallBlockDataSize ? BlockCheck::BLOCK_FULL : BlockCheck::BLOCK_LAST;
}

// Collects record bytes into 4,096-byte blocks and appends each block, with
// its header, to the output as soon as it is full.
class BlockWriter {
 public:
  explicit BlockWriter(ByteVector& output) : m_output(output) { m_buffer.reserve(kUninstallBlockDataSize); }

  void Append(const unsigned char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      m_buffer.push_back(data[i]);
      if (m_buffer.size() == kUninstallBlockDataSize) WriteBlock();
    }
  }

  // Writes the short block that is left. Nothing is written when the data
  // ended exactly on a block boundary: the installer's own writer does not
  // produce empty blocks either.
  void Finish() {
    if (!m_buffer.empty()) WriteBlock();
  }

 private:
  void WriteBlock() {
    const auto size = static_cast<std::uint32_t>(m_buffer.size());
    AppendLittleEndian(m_output, size, 4);
    AppendLittleEndian(m_output, ~size, 4);
    AppendLittleEndian(m_output, Crc32::Of(m_buffer.data(), m_buffer.size()), 4);
    m_output.insert(m_output.end(), m_buffer.begin(), m_buffer.end());
    m_buffer.clear();
  }

  ByteVector& m_output;
  ByteVector m_buffer;
};

// Adds `delta` to the signed 32-bit header field at `offset`; false when the
// result does not fit.
bool AddToHeaderField(ByteVector& log, std::size_t offset, std::int64_t delta) {
  const std::int64_t value = static_cast<std::int32_t>(ReadU32(log, offset)) + delta;
  if (value > std::numeric_limits<std::int32_t>::max() || value < std::numeric_limits<std::int32_t>::min())
    return false;
  WriteU32(log, offset, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
  return true;
}

}  // namespace

bool ParseUninstallLogLayout(const ByteVector& log, UninstallLogLayout& layout) {
  if (log.size() < kUninstallHeaderSize || !HeaderChecksumMatches(log)) return false;
  std::size_t offset = kUninstallHeaderSize;
  for (;;) {
    std::size_t size = 0;
    const BlockCheck check = CheckBlock(log, offset, size);
    if (check == BlockCheck::BLOCK_BAD) return false;
    if (check == BlockCheck::BLOCK_LAST) {
      const bool endsTheFile = offset + kUninstallBlockHeaderSize + size == log.size();
      if (size < kUninstallClosingRecordSize || !endsTheFile) return false;
      layout.lastBlockOffset = offset;
      layout.lastBlockSize = size;
      return true;
    }
    offset += kUninstallBlockHeaderSize + size;
    // A full block that ends the file leaves no short block to extend.
    if (offset == log.size()) return false;
  }
}

ByteVector BuildDeleteFileRecord(const std::string& path) {
  const std::uint64_t length = path.size();
  ByteVector prefix;
  if (length <= 252) {
    AppendLittleEndian(prefix, length, 1);
  } else if (length <= 65535) {
    prefix.push_back(0xFD);
    AppendLittleEndian(prefix, length, 2);
  } else {
    prefix.push_back(0xFE);
    AppendLittleEndian(prefix, length, 4);
  }
  ByteVector record;
  AppendLittleEndian(record, kUninstallDeleteFileRecord, 2);
  AppendLittleEndian(record, 0, 4);                           // extra data
  AppendLittleEndian(record, prefix.size() + length + 1, 4);  // data size
  record.insert(record.end(), prefix.begin(), prefix.end());
  record.insert(record.end(), path.begin(), path.end());
  record.push_back(0xFF);
  return record;
}

UninstallLogEdit AppendDeleteFileRecords(const ByteVector& log, const std::vector<std::string>& paths,
                                         ByteVector& updated) {
  UninstallLogLayout layout;
  if (!ParseUninstallLogLayout(log, layout)) return UninstallLogEdit::EDIT_UNEXPECTED_LAYOUT;

  // The header and the full blocks are kept as they are; the last block is
  // rewritten as: its records, the new records, the closing record.
  updated.assign(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(layout.lastBlockOffset));
  const unsigned char* lastData = log.data() + layout.lastBlockOffset + kUninstallBlockHeaderSize;
  const std::size_t recordBytes = layout.lastBlockSize - kUninstallClosingRecordSize;
  BlockWriter writer(updated);
  writer.Append(lastData, recordBytes);
  for (const std::string& path : paths) {
    const ByteVector record = BuildDeleteFileRecord(path);
    writer.Append(record.data(), record.size());
  }
  writer.Append(lastData + recordBytes, kUninstallClosingRecordSize);
  writer.Finish();

  // The uninstaller takes the end offset as the file position where the
  // record data ends, and the installer writes it as the file's length. The
  // file grows by the bytes of the added records plus 12 for every block
  // header written, less the 12 of the old last block's header, which the
  // rewrite replaces. Adding exactly that growth keeps an end offset that
  // equalled the old length equal to the new one.
  const auto growth = static_cast<std::int64_t>(updated.size()) - static_cast<std::int64_t>(log.size());
  if (!AddToHeaderField(updated, kUninstallRecordCountOffset, static_cast<std::int64_t>(paths.size())) ||
      !AddToHeaderField(updated, kUninstallEndOffsetOffset, growth))
    return UninstallLogEdit::EDIT_TOO_LARGE;
  WriteU32(updated, kUninstallHeaderCrcOffset, Crc32::Of(updated.data(), kUninstallHeaderCrcOffset));
  return UninstallLogEdit::EDIT_OK;
}

}  // namespace NolkPatch
