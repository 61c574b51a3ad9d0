// The segment checksum: a 32-bit CRC with the polynomial 0x04C11DB7,
// processed most significant bit first, start value 0, no reflection of
// input or output and no final XOR. Per byte: crc ^= byte << 24, then eight
// times crc = (crc << 1) ^ (0x04C11DB7 if the top bit was set). The check
// value of the nine ASCII digits "123456789" is 0x89A1897F.
//
// Because there is no final XOR, a checksum can be continued: feeding A and
// then B with the first result as start value gives the checksum of A + B.
//
// Two implementations give the same values: a table method (slicing by 16,
// any processor) and carry-less multiplication folding (x86-64 processors
// with PCLMULQDQ), chosen once at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NolkUtil {

std::uint32_t SegmentCrc(const void* data, std::size_t length, std::uint32_t crc = 0);

// The implementations behind SegmentCrc, for tests and benchmarks.
std::uint32_t SegmentCrcByTable(const void* data, std::size_t length, std::uint32_t crc = 0);
// Whether the processor can run SegmentCrcByFolding.
bool SegmentCrcFoldingAvailable();
// Only to be called when SegmentCrcFoldingAvailable() holds.
std::uint32_t SegmentCrcByFolding(const void* data, std::size_t length, std::uint32_t crc = 0);

}  // namespace NolkUtil
