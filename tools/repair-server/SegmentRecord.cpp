#include "tools/repair-server/SegmentRecord.h"

#include <memory>

#include "KernelStandard/PathUtil.h"
#include "repair/SegmentCrc.h"
#include "repair/SegmentFile.h"
#include "repair/SegmentKey.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferMemory.h"

namespace KorvelRepairServer {
namespace {

// The checksum of an empty segment: the CRC of nothing is 0, sent as 1
// because 0 means "no such segment".
constexpr std::uint32_t kEmptySegmentChecksum = 1;

std::uint32_t ChecksumOf(const std::uint8_t* bytes, std::uint32_t length) {
  const std::uint32_t crc = NolkUtil::SegmentCrc(bytes, length);
  return crc == 0 ? 1 : crc;
}

// Whole-segment compression costs about as much as reading the segment
// many times over, and most game data (packed archives, textures, audio) is
// already compressed. Three samples from the start, middle and end decide
// first: when none of them shrinks noticeably, the segment goes raw.
constexpr std::uint32_t kSampleLength = 32 * 1024;

bool LooksCompressible(const std::uint8_t* bytes, std::uint32_t length) {
  if (length <= 3 * kSampleLength) return true;
  for (const std::uint32_t start : {0u, length / 2, length - kSampleLength}) {
    NolkDataBufferMemoryStatic sample(const_cast<std::uint8_t*>(bytes) + start, kSampleLength);
    NolkDataBufferMemoryDynamic packed;
    if (NolkUtil::CompressData(packed, sample) == NOLKRESULT_OK && packed.GetSize() < kSampleLength * 31 / 32)
      return true;
  }
  return false;
}

}  // namespace

void AppendRecordHeader(bool compressed, const std::wstring& nameKey, std::uint32_t checksum,
                        std::uint32_t dataLength, std::string& bytes) {
  bytes.push_back(compressed ? '\1' : '\0');
  NolkUtil::AppendCountedName(nameKey, bytes);
  NolkUtil::AppendLe32(checksum, bytes);
  NolkUtil::AppendLe32(dataLength, bytes);
}

bool BuildSegmentRecord(const ReferenceIndex& reference, const PlannedRecord& planned, BuiltRecord& record) {
  record.bytes.clear();
  record.compressed = false;
  const std::wstring key = planned.Key();
  if (planned.kind == PlannedRecord::Kind::Remove) {
    AppendRecordHeader(false, key, 0, 0, record.bytes);
    return true;
  }
  if (planned.kind == PlannedRecord::Kind::Empty) {
    AppendRecordHeader(false, key, kEmptySegmentChecksum, 0, record.bytes);
    return true;
  }

  std::unique_ptr<std::uint8_t[]> block;
  std::uint32_t length = 0;
  const std::wstring localKey =
      NolkUtil::MakeSegmentKey(NolkUtil::JoinPath(reference.Root(), planned.path), planned.index);
  if (!NolkUtil::ReadFileSegment(localKey, block, length)) return false;
  const std::uint32_t checksum = ChecksumOf(block.get(), length);

  NolkDataBufferMemoryStatic plain(block.get(), length);
  NolkDataBufferMemoryDynamic packed;
  record.compressed = LooksCompressible(block.get(), length) &&
                      NolkUtil::CompressData(packed, plain) == NOLKRESULT_OK && packed.GetSize() < length;
  const std::uint8_t* data = record.compressed ? packed.Bytes().data() : block.get();
  const auto dataLength = record.compressed ? static_cast<std::uint32_t>(packed.GetSize()) : length;
  AppendRecordHeader(record.compressed, key, checksum, dataLength, record.bytes);
  record.bytes.append(reinterpret_cast<const char*>(data), dataLength);
  return true;
}

}  // namespace KorvelRepairServer
