#include "stream/DataCopy.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace {

// Small copies use a block on the stack; larger ones a heap block of at
// most kLargeChunk bytes.
constexpr std::uint64_t kStackCopyLimit = 8192;
constexpr std::uint32_t kStackChunk = 4096;
constexpr std::uint64_t kLargeChunk = 131072;

std::uint64_t RestOf(const NolkDataBuffer& source) {
  const std::uint64_t size = source.GetSize();
  const std::uint64_t position = source.GetPosition();
  return size > position ? size - position : 0;
}

NolkResult CopyInChunks(NolkDataBuffer& destination, NolkDataBuffer& source, std::uint64_t count,
                        std::uint8_t* chunk, std::uint32_t chunkLength) {
  while (count != 0) {
    const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, chunkLength));
    NolkResult result = source.ReadData(chunk, length);
    if (result != NOLKRESULT_OK) return result;
    result = destination.WriteData(chunk, length);
    if (result != NOLKRESULT_OK) return result;
    count -= length;
  }
  return NOLKRESULT_OK;
}

}  // namespace

NolkResult CopyData(NolkDataBuffer& destination, NolkDataBuffer& source, std::uint64_t count) {
  if (count == 0) return NOLKRESULT_OK;
  if (count <= kStackCopyLimit) {
    std::uint8_t chunk[kStackChunk];
    return CopyInChunks(destination, source, count, chunk, kStackChunk);
  }
  const auto chunkLength = static_cast<std::uint32_t>(std::min(count, kLargeChunk));
  std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[chunkLength]);
  if (chunk == nullptr) return NOLKRESULT_NO_ROOM;
  return CopyInChunks(destination, source, count, chunk.get(), chunkLength);
}

NolkResult CopyRest(NolkDataBuffer& destination, NolkDataBuffer& source) {
  return CopyData(destination, source, RestOf(source));
}

NolkResult ReadRestToString(std::string& text, NolkDataBuffer& source) {
  const std::uint64_t rest = RestOf(source);
  if (rest > std::numeric_limits<std::uint32_t>::max()) return NOLKRESULT_NO_ROOM;
  try {
    text.resize(static_cast<std::size_t>(rest));
  } catch (const std::exception&) {
    return NOLKRESULT_NO_ROOM;
  }
  const std::uint64_t start = source.GetPosition();
  const NolkResult result = source.ReadData(text.data(), static_cast<std::uint32_t>(rest));
  // Keep only what arrived, never bytes the read did not fill.
  const std::uint64_t end = source.GetPosition();
  const std::uint64_t arrived = end > start ? end - start : 0;
  if (arrived < rest) text.resize(static_cast<std::size_t>(arrived));
  return result;
}
