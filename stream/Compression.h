// The compressed block stream: the source cut into blocks of at most 2^28
// bytes, each compressed on its own with zlib's whole-buffer compress.
// Layout, all integers unsigned 32-bit little-endian:
//   block count
//   per block: compressed length, plain length (at most 2^28), then the
//              compressed length bytes of one zlib stream
// There is no overall checksum, no magic and no padding.
//
// Results: 0 on success; the code of a failed ReadData or WriteData is
// passed on; 9 when memory runs out or zlib reports an error; 8 when a
// block expands to fewer bytes than its plain length says, when the stream
// ends inside a header, or when a block claims more compressed bytes than
// the source has left; 10 when a header is impossible (a plain length over
// 2^28, or a compressed length that no such block can reach). A stream is
// checked before anything is allocated for it, so a hostile header never
// causes a huge allocation.
#pragma once

#include <cstdint>

#include "stream/NolkDataBuffer.h"

namespace NolkUtil {

constexpr std::uint32_t kMaxCompressedBlockPlainLength = 1u << 28;

// Compresses everything from the source's position to its end into the
// destination at its position. The destination is left at its end.
NolkResult CompressData(NolkDataBuffer& destination, NolkDataBuffer& source);

// Reads one compressed block stream from the source's position and writes
// the plain bytes to the destination.
NolkResult DecompressData(NolkDataBuffer& destination, NolkDataBuffer& source);

}  // namespace NolkUtil
