#include "tools/diff/ZstdDiff.h"

// ZSTD_getFrameHeader (the frame's window size) is in zstd's advanced API;
// the Debian library exports it.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>

namespace KorvelTools {
namespace {

constexpr std::uint8_t kMagic[4] = {'K', 'V', 'D', '1'};
constexpr std::uint16_t kFormatVersion = 1;
// Our header travels in a zstd skippable frame (magic 0x184D2A50 to
// 0x184D2A5F, a 32-bit length, then the bytes), which every zstd decoder
// passes over; we write the variant 0x184D2A5B.
constexpr std::uint32_t kSkippableMagic = 0x184D2A5B;
constexpr std::uint32_t kSkippableMagicMask = 0xFFFFFFF0;
constexpr std::size_t kSkippableFrameHeader = 8;
constexpr std::uint32_t kZstdFrameMagic = 0xFD2FB528;

// The most bytes one byte of a zstd frame can regenerate: the smallest block
// that produces a full block is an RLE block (3-byte header, 1 byte of
// content) yielding ZSTD_BLOCKSIZE_MAX bytes. A declared new length beyond
// this times the frame size cannot be real.
constexpr std::uint64_t kMaxExpansionPerFrameByte = ZSTD_BLOCKSIZE_MAX / 4;

std::uint64_t LoadLE64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

std::uint32_t LoadLE32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::uint16_t LoadLE16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void StoreLE(std::uint8_t* bytes, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct CCtxDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DCtxDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using CompressionContext = std::unique_ptr<ZSTD_CCtx, CCtxDeleter>;
using DecompressionContext = std::unique_ptr<ZSTD_DCtx, DCtxDeleter>;

bool SetParameter(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value) {
  return !ZSTD_isError(ZSTD_CCtx_setParameter(context, parameter, value));
}

// Sets a long-distance matcher parameter when the caller chose one.
bool SetOptional(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value) {
  return value == 0 || SetParameter(context, parameter, value);
}

int ChosenWindowLog(const DiffOptions& options, std::uint64_t oldLength, std::uint64_t newLength) {
  const int fitting = DiffWindowLog(oldLength, newLength);
  if (options.windowLog <= 0) return fitting;
  return std::clamp(options.windowLog, ZSTD_WINDOWLOG_MIN, fitting);
}

bool ConfigureCompression(ZSTD_CCtx* context, const DiffOptions& options, int windowLog) {
  return SetParameter(context, ZSTD_c_compressionLevel, options.level) &&
         SetParameter(context, ZSTD_c_windowLog, windowLog) &&
         SetParameter(context, ZSTD_c_enableLongDistanceMatching, options.longDistanceMatching ? 1 : 0) &&
         SetParameter(context, ZSTD_c_checksumFlag, 1) && SetParameter(context, ZSTD_c_contentSizeFlag, 1) &&
         SetOptional(context, ZSTD_c_ldmHashLog, options.ldmHashLog) &&
         SetOptional(context, ZSTD_c_ldmMinMatch, options.ldmMinMatch) &&
         SetOptional(context, ZSTD_c_ldmBucketSizeLog, options.ldmBucketSizeLog) &&
         SetOptional(context, ZSTD_c_ldmHashRateLog, options.ldmHashRateLog);
}

// The skippable frame that carries the header, then the header itself.
void WriteHeader(std::uint8_t* out, const DiffHeader& header) {
  StoreLE(out, kSkippableMagic, 4);
  StoreLE(out + 4, kLegacyHeaderSize, 4);
  out += kSkippableFrameHeader;
  std::memcpy(out, kMagic, sizeof kMagic);
  StoreLE(out + 4, kFormatVersion, 2);
  StoreLE(out + 6, 0, 2);
  StoreLE(out + 8, header.oldLength, 8);
  StoreLE(out + 16, header.oldHash, 8);
  StoreLE(out + 24, header.newLength, 8);
}

bool Overlap(ByteSpan first, ByteSpan second) {
  if (first.empty() || second.empty()) return false;
  const std::less<const std::uint8_t*> before;
  return before(first.data(), second.data() + second.size()) &&
         before(second.data(), first.data() + first.size());
}

std::vector<std::uint8_t> Compress(ByteSpan oldData, ByteSpan newData, const DiffOptions& options) {
  CompressionContext context(ZSTD_createCCtx());
  if (!context) return {};
  const int windowLog = ChosenWindowLog(options, oldData.size(), newData.size());
  if (!ConfigureCompression(context.get(), options, windowLog)) return {};
  if (ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), oldData.data(), oldData.size()))) return {};

  std::vector<std::uint8_t> diff(kDiffHeaderSize + ZSTD_compressBound(newData.size()));
  const std::size_t frameSize = ZSTD_compress2(context.get(), diff.data() + kDiffHeaderSize,
                                               diff.size() - kDiffHeaderSize, newData.data(), newData.size());
  if (ZSTD_isError(frameSize)) return {};
  diff.resize(kDiffHeaderSize + frameSize);
  WriteHeader(diff.data(), {oldData.size(), OldFileHash(oldData), newData.size()});
  return diff;
}

// True when the frame is exactly one complete zstd frame with a content
// checksum that can produce the header's new length within the window the
// two files need.
bool FrameFitsHeader(ByteSpan frame, const DiffHeader& header) {
  const std::size_t frameSize = ZSTD_findFrameCompressedSize(frame.data(), frame.size());
  if (ZSTD_isError(frameSize) || frameSize != frame.size()) return false;
  if (ZSTD_getFrameContentSize(frame.data(), frame.size()) != header.newLength) return false;
  if (header.newLength / kMaxExpansionPerFrameByte > frame.size()) return false;
  if (header.newLength > std::numeric_limits<std::size_t>::max() / 2) return false;
  ZSTD_frameHeader frameHeader{};
  if (ZSTD_getFrameHeader(&frameHeader, frame.data(), frame.size()) != 0) return false;
  const int windowLog = DiffWindowLog(header.oldLength, header.newLength);
  return frameHeader.frameType == ZSTD_frame && frameHeader.checksumFlag != 0 &&
         frameHeader.windowSize <= (1ull << windowLog);
}

bool ParseHeaderFields(ByteSpan bytes, DiffHeader& header) {
  if (bytes.size() < kLegacyHeaderSize) return false;
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  if (LoadLE16(&bytes[4]) != kFormatVersion || LoadLE16(&bytes[6]) != 0) return false;
  header.oldLength = LoadLE64(&bytes[8]);
  header.oldHash = LoadLE64(&bytes[16]);
  header.newLength = LoadLE64(&bytes[24]);
  return true;
}

// Where the zstd frame of a diff starts: after the skippable frame with our
// header, after the bare header that earlier builders wrote, or at 0 for a
// plain patch-from frame (no header). False when it is none of these.
bool LocateFrame(ByteSpan diff, DiffHeader& header, bool& hasHeader, std::size_t& frameStart) {
  if (diff.size() >= 4 && LoadLE32(diff.data()) == kZstdFrameMagic) {
    hasHeader = false;
    frameStart = 0;
    return true;
  }
  hasHeader = true;
  if (diff.size() >= kSkippableFrameHeader &&
      (LoadLE32(diff.data()) & kSkippableMagicMask) == (kSkippableMagic & kSkippableMagicMask)) {
    if (LoadLE32(diff.data() + 4) != kLegacyHeaderSize) return false;
    frameStart = kDiffHeaderSize;
    return ParseHeaderFields(diff.subspan(kSkippableFrameHeader), header);
  }
  frameStart = kLegacyHeaderSize;
  return ParseHeaderFields(diff, header);
}

// A plain frame states only the new file's length; the old file cannot be
// checked before decoding (the caller checks the result's checksum).
bool HeaderOfPlainFrame(ByteSpan frame, std::uint64_t oldLength, std::uint64_t oldHash, DiffHeader& header) {
  const unsigned long long contentSize = ZSTD_getFrameContentSize(frame.data(), frame.size());
  if (contentSize == ZSTD_CONTENTSIZE_UNKNOWN || contentSize == ZSTD_CONTENTSIZE_ERROR) return false;
  header = {oldLength, oldHash, contentSize};
  return true;
}

// A decoding context whose frames refer back into the old file.
DecompressionContext ContextWithPrefix(ByteSpan oldData, const DiffHeader& header) {
  DecompressionContext context(ZSTD_createDCtx());
  if (!context) return context;
  const int windowLog = DiffWindowLog(header.oldLength, header.newLength);
  if (ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLog)) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), oldData.data(), oldData.size()))) {
    context.reset();
  }
  return context;
}

template <typename Buffer>
DiffResult Decompress(ByteSpan oldData, ByteSpan frame, const DiffHeader& header, Buffer& newData) {
  DecompressionContext context = ContextWithPrefix(oldData, header);
  if (!context) return DiffResult::Corrupt;
  Buffer produced(static_cast<std::size_t>(header.newLength));
  const std::size_t length =
      ZSTD_decompressDCtx(context.get(), produced.data(), produced.size(), frame.data(), frame.size());
  if (ZSTD_isError(length) || length != produced.size()) return DiffResult::Corrupt;
  newData = std::move(produced);
  return DiffResult::Ok;
}

// The new file's blocks: large enough that writing them costs few calls,
// small enough to stay in the cache between decoding and writing.
constexpr std::size_t kOutputBlock = 512 * 1024;

DiffResult StreamFrame(ByteSpan oldData, ByteSpan frame, const DiffHeader& header, const DiffSink& sink) {
  DecompressionContext context = ContextWithPrefix(oldData, header);
  if (!context) return DiffResult::Corrupt;
  std::vector<std::uint8_t> block(kOutputBlock);
  ZSTD_inBuffer input{frame.data(), frame.size(), 0};
  std::uint64_t produced = 0;
  while (true) {
    ZSTD_outBuffer output{block.data(), block.size(), 0};
    const std::size_t hint = ZSTD_decompressStream(context.get(), &output, &input);
    if (ZSTD_isError(hint)) return DiffResult::Corrupt;
    produced += output.pos;
    if (produced > header.newLength) return DiffResult::Corrupt;
    if (output.pos > 0 && !sink(ByteSpan(block.data(), output.pos))) return DiffResult::OutputFailed;
    if (hint == 0) break;  // the frame is complete and its checksum verified
    // No input left and nothing more produced: the frame is cut short.
    if (input.pos == input.size && output.pos < output.size) return DiffResult::Corrupt;
  }
  return produced == header.newLength && input.pos == input.size ? DiffResult::Ok : DiffResult::Corrupt;
}

// The header of a diff and its zstd frame, checked against the old file and
// each other before anything is decoded.
DiffResult CheckDiff(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, DiffHeader& header,
                     ByteSpan& frame) {
  bool hasHeader = false;
  std::size_t frameStart = 0;
  if (!LocateFrame(diff, header, hasHeader, frameStart)) return DiffResult::Corrupt;
  frame = diff.subspan(frameStart);
  if (!hasHeader && !HeaderOfPlainFrame(frame, oldData.size(), oldHash, header)) return DiffResult::Corrupt;
  if (header.oldLength != oldData.size() || header.oldHash != oldHash) return DiffResult::WrongOldFile;
  if (!FrameFitsHeader(frame, header)) return DiffResult::Corrupt;
  return DiffResult::Ok;
}

template <typename Buffer>
DiffResult ApplyInto(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, Buffer& newData) {
  newData.clear();
  DiffHeader header;
  ByteSpan frame;
  const DiffResult checked = CheckDiff(oldData, oldHash, diff, header, frame);
  if (checked != DiffResult::Ok) return checked;
  try {
    return Decompress(oldData, frame, header, newData);
  } catch (const std::bad_alloc&) {
    return DiffResult::Corrupt;
  }
}

}  // namespace

int DiffWindowLog(std::uint64_t oldLength, std::uint64_t newLength) {
  const std::uint64_t reach = oldLength + newLength;
  if (reach < oldLength || reach > (1ull << ZSTD_WINDOWLOG_MAX)) return ZSTD_WINDOWLOG_MAX;
  const int fitting = static_cast<int>(std::bit_width(reach > 0 ? reach - 1 : 0));
  return std::clamp(fitting, ZSTD_WINDOWLOG_MIN, ZSTD_WINDOWLOG_MAX);
}

bool ReadDiffHeader(ByteSpan diff, DiffHeader& header) {
  bool hasHeader = false;
  std::size_t frameStart = 0;
  return LocateFrame(diff, header, hasHeader, frameStart) && hasHeader;
}

std::vector<std::uint8_t> CreateDiff(ByteSpan oldData, ByteSpan newData, const DiffOptions& options) {
  try {
    // zstd drops the part of a referenced prefix that overlaps the input in
    // memory, so the diff of a buffer against itself would not refer to the
    // old file at all; such a caller gets its new file copied first.
    if (Overlap(oldData, newData)) {
      const std::vector<std::uint8_t> separateCopy(newData.begin(), newData.end());
      return Compress(oldData, separateCopy, options);
    }
    return Compress(oldData, newData, options);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

DiffResult ApplyDiff(ByteSpan oldData, ByteSpan diff, std::vector<std::uint8_t>& newData) {
  return ApplyInto(oldData, OldFileHash(oldData), diff, newData);
}

DiffResult ApplyDiff(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, UninitializedBytes& newData) {
  return ApplyInto(oldData, oldHash, diff, newData);
}

DiffResult ApplyDiffToSink(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, const DiffSink& sink) {
  DiffHeader header;
  ByteSpan frame;
  const DiffResult checked = CheckDiff(oldData, oldHash, diff, header, frame);
  if (checked != DiffResult::Ok) return checked;
  try {
    return StreamFrame(oldData, frame, header, sink);
  } catch (const std::bad_alloc&) {
    return DiffResult::Corrupt;
  }
}

}  // namespace KorvelTools
