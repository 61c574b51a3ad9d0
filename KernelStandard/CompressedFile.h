// The compressed file format written and read by Vek::File:
//
//   offset 0   4 bytes  magic "CFIL"
//   offset 4   4 bytes  format version 0x101
//   offset 8   4 bytes  length of the uncompressed content
//   offset 12  chunks, one per 16,384 content bytes (the last one shorter)
//
// Integers are little-endian. Each chunk is a 16-bit header and its bytes.
// With bit 15 set the chunk is stored: the low 15 bits are its length, which
// equals the content bytes it carries. With bit 15 clear the header is the
// length of a byte-pair encoded chunk (BytePairCodec.h) that expands to the
// chunk's full content. A chunk is stored whenever encoding would not make
// it shorter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Vek {

inline constexpr std::uint8_t kCompressedMagic[4] = {'C', 'F', 'I', 'L'};
inline constexpr std::uint32_t kCompressedVersion = 0x101;
inline constexpr std::size_t kCompressedHeaderSize = 12;
inline constexpr std::size_t kCompressedChunkSize = 16384;
inline constexpr std::size_t kChunkHeaderSize = 2;
inline constexpr std::uint16_t kChunkStoredFlag = 0x8000;
inline constexpr std::uint16_t kChunkLengthMask = 0x7FFF;

enum class CompressedHeaderKind {
  NotCompressed,  // no "CFIL" magic: an ordinary file
  Valid,
  UnknownVersion,
};

CompressedHeaderKind ParseCompressedHeader(const std::uint8_t* bytes, std::size_t size,
                                           std::uint32_t& contentLength);
void AppendCompressedHeader(std::uint32_t contentLength, std::vector<std::uint8_t>& out);

// Content bytes carried by chunk `index` of a file with `contentLength`
// content bytes (0 past the last chunk).
std::size_t ChunkContentLength(std::uint64_t contentLength, std::uint64_t index);

// Appends the chunk header and bytes for content[0..n), n <= 16,384.
void AppendChunk(const std::uint8_t* content, std::size_t n, std::vector<std::uint8_t>& out);

// Expands a chunk body (header & kChunkLengthMask bytes) into exactly
// contentLength bytes. False when the chunk does not carry exactly that.
bool ExpandChunk(std::uint16_t header, const std::uint8_t* body, std::uint8_t* out,
                 std::size_t contentLength);

// "%08X.T%08X" from the process id and a per-process counter that every
// call advances.
std::wstring NextCompressionTempName();

// Replaces the plain file at `path`, whose first `length` bytes are its
// content, by its compressed form. The compressed file is built in a
// temporary file in the current folder; the plain file is deleted only
// after that succeeded. Returns false when anything fails: before the plain
// file is deleted it is left as it was and the temporary file is removed;
// if the temporary file cannot be put in place it is kept, since it then
// holds the only copy of the content.
bool CompressFileInPlace(const std::wstring& path, std::uint64_t length);

}  // namespace Vek
