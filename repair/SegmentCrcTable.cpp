// Slicing by 16: sixteen 256-entry tables, where table k holds the checksum
// of one byte followed by k zero bytes, let the loop fold 16 bytes per step
// with 16 independent look-ups.
#include <array>
#include <bit>
#include <cstring>

#include "repair/SegmentCrc.h"

namespace NolkUtil {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7u;
constexpr int kSlices = 16;

using SliceTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr std::uint32_t ByteStepBitwise(std::uint32_t value) {
  for (int bit = 0; bit < 8; ++bit) value = (value & 0x80000000u) ? (value << 1) ^ kPolynomial : value << 1;
  return value;
}

constexpr SliceTables BuildTables() {
  SliceTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) tables[0][byte] = ByteStepBitwise(byte << 24);
  for (int slice = 1; slice < kSlices; ++slice) {
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      const std::uint32_t previous = tables[slice - 1][byte];
      tables[slice][byte] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}

constexpr SliceTables kTables = BuildTables();

std::uint32_t LoadBigEndian32(const unsigned char* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
  return value;
}

// The contribution of a 32-bit word whose bytes are followed by `after`
// further bytes of the same step.
std::uint32_t WordTerm(std::uint32_t word, int after) {
  return kTables[after + 3][word >> 24] ^ kTables[after + 2][(word >> 16) & 0xFF] ^
         kTables[after + 1][(word >> 8) & 0xFF] ^ kTables[after][word & 0xFF];
}

}  // namespace

std::uint32_t SegmentCrcByTable(const void* data, std::size_t length, std::uint32_t crc) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (length >= kSlices) {
    const std::uint32_t w0 = LoadBigEndian32(bytes) ^ crc;
    const std::uint32_t w1 = LoadBigEndian32(bytes + 4);
    const std::uint32_t w2 = LoadBigEndian32(bytes + 8);
    const std::uint32_t w3 = LoadBigEndian32(bytes + 12);
    crc = WordTerm(w0, 12) ^ WordTerm(w1, 8) ^ WordTerm(w2, 4) ^ WordTerm(w3, 0);
    bytes += kSlices;
    length -= kSlices;
  }
  for (; length > 0; --length, ++bytes) crc = (crc << 8) ^ kTables[0][(crc >> 24) ^ *bytes];
  return crc;
}

}  // namespace NolkUtil
