#include "repair/SegmentFile.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "KernelStandard/Log.h"
#include "KernelStandard/TextConvert.h"
#include "repair/SegmentCrc.h"
#include "repair/SegmentKey.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkUtil {
namespace {

// The checksum reads a segment in pieces of this size, each checked while it
// is still in the processor's cache; reading 4 MiB first and checking it
// afterwards would take every byte through main memory twice.
constexpr std::uint32_t kChecksumPiece = 256 * 1024;

bool Fail(const char* format, const std::wstring& localKey) {
  LogPrintTo(LOG_STDOUT, format, ToNarrow(localKey).c_str());
  return false;
}

// A segment's file, positioned at the segment's first byte.
struct OpenSegment {
  std::optional<NolkDataBufferFile> file;
  std::uint32_t length = 0;
};

bool Open(const std::wstring& localKey, OpenSegment& segment) {
  const SegmentKeyParts parts = SplitSegmentKey(localKey);
  std::uint64_t offset = 0;
  const bool offsetValid = SegmentOffset(parts.index, offset);

  segment.file.emplace(parts.path, NolkDataBufferFile::ReadOnly);
  if (!segment.file->IsOpen()) return Fail("ReadFileSegment> unabled to open file: %s", localKey);
  const std::uint64_t end = std::min(offset + kSegmentSize, segment.file->GetSize());
  if (!offsetValid || end < offset)
    return Fail("ReadFileSegment> segment past end of file for: %s", localKey);
  if (segment.file->SetPosition(offset) != NOLKRESULT_OK) {
    return Fail("ReadFileSegment> unabled to seek file: %s", localKey);
  }
  segment.length = static_cast<std::uint32_t>(end - offset);
  return true;
}

}  // namespace

bool ReadFileSegment(const std::wstring& localKey, std::unique_ptr<std::uint8_t[]>& block,
                     std::uint32_t& length) {
  OpenSegment segment;
  if (!Open(localKey, segment)) return false;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow)
                                            std::uint8_t[std::max<std::uint32_t>(segment.length, 1)]);
  if (!bytes || segment.file->ReadData(bytes.get(), segment.length) != NOLKRESULT_OK) {
    return Fail("ReadFileSegment> unabled to read from file: %s", localKey);
  }
  block = std::move(bytes);
  length = segment.length;
  return true;
}

std::uint32_t SegmentChecksum(const std::wstring& localKey) {
  LogPrintTo(LOG_STDOUT, " Checksum %s ..", ToNarrow(localKey).c_str());
  OpenSegment segment;
  if (!Open(localKey, segment)) return 0;
  // One buffer per segment, not one kept per thread: with the thread-local
  // storage of the Windows build a thread-local object can be destroyed
  // after its storage was freed as its thread ends, and the release then
  // faults inside the allocator. One allocation per 4 MiB read costs nothing.
  std::vector<std::uint8_t> piece(kChecksumPiece);
  std::uint32_t crc = 0;
  for (std::uint32_t left = segment.length; left > 0;) {
    const std::uint32_t count = std::min(left, kChecksumPiece);
    if (segment.file->ReadData(piece.data(), count) != NOLKRESULT_OK) {
      Fail("ReadFileSegment> unabled to read from file: %s", localKey);
      return 0;
    }
    crc = SegmentCrc(piece.data(), count, crc);
    left -= count;
  }
  return crc == 0 ? 1 : crc;
}

}  // namespace NolkUtil
