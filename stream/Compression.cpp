#include "stream/Compression.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "KernelStandard/Log.h"

namespace NolkUtil {
namespace {

using Block = std::unique_ptr<std::uint8_t[]>;

// Per-block buffers are overwritten completely, so they are not zeroed.
Block AllocateBlock(std::uint64_t length) {
  return Block(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(std::max<std::uint64_t>(length, 1))]);
}

NolkResult WriteUint32(NolkDataBuffer& destination, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 24)};
  return destination.WriteData(bytes, sizeof bytes);
}

NolkResult ReadUint32(NolkDataBuffer& source, std::uint32_t& value) {
  std::uint8_t bytes[4] = {};
  const NolkResult result = source.ReadData(bytes, sizeof bytes);
  value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
          std::uint32_t{bytes[3]} << 24;
  return result;
}

// --- Compression ------------------------------------------------------------

NolkResult WriteBlock(NolkDataBuffer& destination, const std::uint8_t* packed, std::uint32_t packedLength,
                      std::uint32_t plainLength, std::uint32_t& blockCount) {
  NolkResult result = WriteUint32(destination, packedLength);
  if (result == NOLKRESULT_OK) result = WriteUint32(destination, plainLength);
  if (result != NOLKRESULT_OK) return result;
  // A block whose data write fails is still counted, so a reader that is
  // handed the stream anyway stops at the broken block instead of taking
  // the stream as complete.
  ++blockCount;
  return destination.WriteData(packed, packedLength);
}

NolkResult CompressBlock(NolkDataBuffer& destination, NolkDataBuffer& source, std::uint32_t& blockCount) {
  const std::uint64_t remaining = source.GetSize() - source.GetPosition();
  const auto plainLength =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, kMaxCompressedBlockPlainLength));
  uLongf packedLength = compressBound(plainLength);
  Block plain = AllocateBlock(plainLength);
  Block packed = AllocateBlock(packedLength);
  if (plain == nullptr || packed == nullptr) {
    LogPrint("NolkUtil::CompressData> Insufficient memory to allocate buffers");
    return NOLKRESULT_NO_ROOM;
  }
  const NolkResult readResult = source.ReadData(plain.get(), plainLength);
  if (readResult != NOLKRESULT_OK) return readResult;
  const int zlibResult = compress(packed.get(), &packedLength, plain.get(), plainLength);
  if (zlibResult != Z_OK) {
    LogPrint("NolkUtil::CompressData> err %d", zlibResult);
    return NOLKRESULT_NO_ROOM;
  }
  return WriteBlock(destination, packed.get(), static_cast<std::uint32_t>(packedLength), plainLength,
                    blockCount);
}

NolkResult CompressBlocks(NolkDataBuffer& destination, NolkDataBuffer& source, std::uint32_t& blockCount) {
  while (source.GetPosition() < source.GetSize()) {
    const NolkResult result = CompressBlock(destination, source, blockCount);
    if (result != NOLKRESULT_OK) return result;
  }
  return NOLKRESULT_OK;
}

// Writes the block count over its placeholder and leaves the destination at
// its end.
NolkResult PatchBlockCount(NolkDataBuffer& destination, std::uint64_t start, std::uint32_t blockCount) {
  NolkResult result = destination.SetPosition(start);
  if (result == NOLKRESULT_OK) result = WriteUint32(destination, blockCount);
  const NolkResult toEnd = destination.SetPosition(destination.GetSize());
  return result != NOLKRESULT_OK ? result : toEnd;
}

// --- Decompression ----------------------------------------------------------

struct BlockHeader {
  std::uint32_t packedLength = 0;
  std::uint32_t plainLength = 0;
};

// A header field that cannot be read in full means the stream ended early.
NolkResult ReadHeaderField(NolkDataBuffer& source, std::uint32_t& value) {
  const NolkResult result = ReadUint32(source, value);
  if (result == NOLKRESULT_OK) return NOLKRESULT_OK;
  LogPrint("NolkUtil::DecompressData> ReadData returned %d", result);
  return NOLKRESULT_END_OF_DATA;
}

NolkResult ReadBlockHeader(NolkDataBuffer& source, BlockHeader& header) {
  const NolkResult result = ReadHeaderField(source, header.packedLength);
  return result != NOLKRESULT_OK ? result : ReadHeaderField(source, header.plainLength);
}

// Rejects headers that no stream written by CompressData can hold, before
// anything is allocated for them. A source that knows its size (a file or
// memory; a TCP stream reports 0) must still hold the compressed bytes.
NolkResult CheckBlockHeader(const NolkDataBuffer& source, const BlockHeader& header) {
  const bool impossible = header.plainLength > kMaxCompressedBlockPlainLength ||
                          header.packedLength > compressBound(kMaxCompressedBlockPlainLength);
  const std::uint64_t size = source.GetSize();
  const std::uint64_t position = source.GetPosition();
  const std::uint64_t left = size > position ? size - position : 0;
  const bool beyondEnd = size != 0 && header.packedLength > left;
  if (!impossible && !beyondEnd) return NOLKRESULT_OK;
  LogPrint("NolkUtil::DecompressData> bad block header: srcLen=%u, dstLen=%u", header.packedLength,
           header.plainLength);
  return impossible ? NOLKRESULT_WRONG_FORMAT : NOLKRESULT_END_OF_DATA;
}

// A buffer kept from block to block of one stream, so that a
// stream of large blocks does not map fresh memory (and fault every page
// in) for each one. It never shrinks while the stream is decoded.
class ReusedBuffer {
 public:
  std::uint8_t* Reserve(std::uint64_t length) {
    const std::uint64_t wanted = std::max<std::uint64_t>(length, 1);
    if (wanted > m_capacity) {
      m_bytes.reset();
      m_bytes = AllocateBlock(wanted);
      m_capacity = m_bytes ? wanted : 0;
    }
    return m_bytes.get();
  }

 private:
  Block m_bytes;
  std::uint64_t m_capacity = 0;
};

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// What decoding a stream reuses from block to block: the decompressor (it
// holds only tables) and the blocks that stream variants without direct
// access to their bytes are decoded through. It lives for one stream, not
// for the thread: with the thread-local storage of the Windows build a
// thread-local object can be destroyed after its storage was freed as its
// thread ends, and the release then faults inside the allocator.
struct DecodeState {
  std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor{libdeflate_alloc_decompressor()};
  ReusedBuffer packed;
  ReusedBuffer plain;
};

NolkResult NoDecodeMemory() {
  LogPrint("NolkUtil::DecompressData> Insufficient memory to allocate buffers");
  return NOLKRESULT_NO_ROOM;
}

// Blocks are zlib streams (compress()), and the header states the plain
// length, which is what libdeflate's whole-buffer decoder wants; it is
// several times faster than inflate. The results are those uncompress()
// gives: a damaged block (bad data, a failed Adler-32, more output than
// stated) is 9, a block that yields fewer bytes than stated is 8.
NolkResult ExpandBlock(DecodeState& state, const BlockHeader& header, const std::uint8_t* packed,
                       std::uint8_t* plain) {
  libdeflate_decompressor* decompressor = state.decompressor.get();
  if (decompressor == nullptr) return NoDecodeMemory();
  std::size_t produced = 0;
  const libdeflate_result result = libdeflate_zlib_decompress(decompressor, packed, header.packedLength,
                                                              plain, header.plainLength, &produced);
  if (result != LIBDEFLATE_SUCCESS) {
    // Reported with zlib's codes, as uncompress() would: more output than
    // stated fills the buffer (Z_BUF_ERROR); damaged data is Z_DATA_ERROR,
    // with nothing counted as produced.
    const bool full = result == LIBDEFLATE_INSUFFICIENT_SPACE;
    LogPrint("NolkUtil::DecompressData> err %d", full ? Z_BUF_ERROR : Z_DATA_ERROR);
    LogPrint("NolkUtil::DecompressData> srcLen=%d, dstLen=%d, actualDstLen=%d",
             static_cast<int>(header.packedLength), static_cast<int>(header.plainLength),
             full ? static_cast<int>(header.plainLength) : 0);
    return NOLKRESULT_NO_ROOM;
  }
  return produced == header.plainLength ? NOLKRESULT_OK : NOLKRESULT_END_OF_DATA;
}

NolkResult DecompressBlock(DecodeState& state, NolkDataBuffer& destination, NolkDataBuffer& source) {
  BlockHeader header;
  NolkResult result = ReadBlockHeader(source, header);
  if (result == NOLKRESULT_OK) result = CheckBlockHeader(source, header);
  if (result != NOLKRESULT_OK) return result;
  // Memory buffers are decoded from and into where their bytes lie; other
  // variants go through the stream's reused blocks.
  const std::uint8_t* packed = source.ReadInPlace(header.packedLength);
  if (packed == nullptr) {
    std::uint8_t* block = state.packed.Reserve(header.packedLength);
    if (block == nullptr) return NoDecodeMemory();
    result = source.ReadData(block, header.packedLength);
    if (result != NOLKRESULT_OK) {
      LogPrint("NolkUtil::DecompressData> ReadData returned %d", result);
      return result;
    }
    packed = block;
  }
  const std::uint64_t destinationStart = destination.GetPosition();
  if (std::uint8_t* direct = destination.WriteInPlace(header.plainLength)) {
    result = ExpandBlock(state, header, packed, direct);
    // A block that fails leaves the destination's position where the block
    // began, as when it is decoded through the stream's block.
    if (result != NOLKRESULT_OK) destination.SetPosition(destinationStart);
    return result;
  }
  std::uint8_t* plain = state.plain.Reserve(header.plainLength);
  if (plain == nullptr) return NoDecodeMemory();
  result = ExpandBlock(state, header, packed, plain);
  if (result != NOLKRESULT_OK) return result;
  return destination.WriteData(plain, header.plainLength);
}

}  // namespace

NolkResult CompressData(NolkDataBuffer& destination, NolkDataBuffer& source) {
  const std::uint64_t start = destination.GetPosition();
  const NolkResult placeholder = WriteUint32(destination, 0);
  if (placeholder != NOLKRESULT_OK) return placeholder;
  std::uint32_t blockCount = 0;
  const NolkResult result = CompressBlocks(destination, source, blockCount);
  // The count is written even when a block failed, so it matches the
  // blocks that were started.
  const NolkResult patched = PatchBlockCount(destination, start, blockCount);
  return result != NOLKRESULT_OK ? result : patched;
}

NolkResult DecompressData(NolkDataBuffer& destination, NolkDataBuffer& source) {
  std::uint32_t blockCount = 0;
  const NolkResult result = ReadHeaderField(source, blockCount);
  if (result != NOLKRESULT_OK) return result;
  DecodeState state;
  for (std::uint32_t block = 0; block < blockCount; ++block) {
    const NolkResult blockResult = DecompressBlock(state, destination, source);
    if (blockResult != NOLKRESULT_OK) return blockResult;
  }
  return NOLKRESULT_OK;
}

}  // namespace NolkUtil
