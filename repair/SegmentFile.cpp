#include "repair/SegmentFile.h"

#include <algorithm>
#include <new>

#include "KernelStandard/Log.h"
#include "KernelStandard/TextConvert.h"
#include "repair/SegmentCrc.h"
#include "repair/SegmentKey.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkUtil {
namespace {

bool Fail(const char* format, const std::wstring& localKey) {
  LogPrintTo(LOG_STDOUT, format, ToNarrow(localKey).c_str());
  return false;
}

}  // namespace

bool ReadFileSegment(const std::wstring& localKey, std::unique_ptr<std::uint8_t[]>& block,
                     std::uint32_t& length) {
  const SegmentKeyParts parts = SplitSegmentKey(localKey);
  std::uint64_t offset = 0;
  const bool offsetValid = SegmentOffset(parts.index, offset);

  NolkDataBufferFile file(parts.path, NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen()) return Fail("ReadFileSegment> unabled to open file: %s", localKey);
  const std::uint64_t end = std::min(offset + kSegmentSize, file.GetSize());
  if (!offsetValid || end < offset)
    return Fail("ReadFileSegment> segment past end of file for: %s", localKey);
  if (file.SetPosition(offset) != NOLKRESULT_OK)
    return Fail("ReadFileSegment> unabled to seek file: %s", localKey);

  const auto count = static_cast<std::uint32_t>(end - offset);
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[count == 0 ? 1 : count]);
  if (!bytes || file.ReadData(bytes.get(), count) != NOLKRESULT_OK) {
    return Fail("ReadFileSegment> unabled to read from file: %s", localKey);
  }
  block = std::move(bytes);
  length = count;
  return true;
}

std::uint32_t SegmentChecksum(const std::wstring& localKey) {
  LogPrintTo(LOG_STDOUT, " Checksum %s ..", ToNarrow(localKey).c_str());
  std::unique_ptr<std::uint8_t[]> block;
  std::uint32_t length = 0;
  if (!ReadFileSegment(localKey, block, length)) return 0;
  const std::uint32_t crc = SegmentCrc(block.get(), length);
  return crc == 0 ? 1 : crc;
}

}  // namespace NolkUtil
