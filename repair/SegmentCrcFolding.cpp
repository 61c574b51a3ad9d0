// Carry-less multiplication folding (the method of Intel's "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ"), for the
// non-reflected CRC.
//
// With the message's first byte as the highest coefficients, the checksum of
// a message M is M(x) * x^32 mod P(x). Any polynomial congruent to M modulo P
// has the same checksum, so 128-bit blocks are folded forward: a block X =
// H * x^64 + L that lies n bits before the block it is folded into becomes
// H * (x^(n+64) mod P) + L * (x^n mod P), two 64 x 32-bit carry-less products
// that fit 128 bits. Four blocks are kept in flight (n = 512) to hide the
// multiplier's latency; at the end they are folded into one (n = 128), and
// the checksum of that last 128-bit block, taken as 16 bytes, is the
// checksum of everything folded so far. Bytes that do not fill a block are
// finished with the table method.
#include "repair/SegmentCrc.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVEL_SEGMENT_CRC_FOLDING 1
#include <immintrin.h>
#endif

namespace NolkUtil {

#if KORVEL_SEGMENT_CRC_FOLDING
namespace {

constexpr std::uint64_t kPolynomialWithTop = 0x104C11DB7ull;
constexpr std::size_t kBlock = 16;
constexpr std::size_t kLanes = 4;

// x^n mod P as a 32-bit value.
constexpr std::uint64_t PowerOfXModP(unsigned n) {
  std::uint64_t value = 1;
  for (unsigned i = 0; i < n; ++i) {
    value <<= 1;
    if (value & (std::uint64_t{1} << 32)) value ^= kPolynomialWithTop;
  }
  return value;
}

#define KORVEL_FOLDING_TARGET __attribute__((target("pclmul,ssse3")))

KORVEL_FOLDING_TARGET inline __m128i ByteReversal() {
  return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// A block in polynomial order: bit 127 is the first byte's top bit.
KORVEL_FOLDING_TARGET inline __m128i LoadBlock(const unsigned char* bytes, __m128i reversal) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), reversal);
}

// Folds a block forward by the distance whose constants `k` holds
// (high lane: x^(n+64) mod P, low lane: x^n mod P).
KORVEL_FOLDING_TARGET inline __m128i Fold(__m128i block, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x11), _mm_clmulepi64_si128(block, k, 0x00));
}

KORVEL_FOLDING_TARGET inline __m128i FoldConstants(unsigned distance) {
  return _mm_set_epi64x(static_cast<long long>(PowerOfXModP(distance + 64)),
                        static_cast<long long>(PowerOfXModP(distance)));
}

KORVEL_FOLDING_TARGET std::uint32_t FoldBlocks(const unsigned char* bytes, std::size_t length,
                                               std::uint32_t crc) {
  const __m128i reversal = ByteReversal();
  const __m128i byFour = FoldConstants(128 * kLanes);
  const __m128i byOne = FoldConstants(128);

  // The start value is added to the message's first 32 bits.
  __m128i lane0 = _mm_xor_si128(LoadBlock(bytes, reversal), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
  __m128i lane1 = LoadBlock(bytes + kBlock, reversal);
  __m128i lane2 = LoadBlock(bytes + 2 * kBlock, reversal);
  __m128i lane3 = LoadBlock(bytes + 3 * kBlock, reversal);
  bytes += kLanes * kBlock;
  length -= kLanes * kBlock;

  for (; length >= kLanes * kBlock; bytes += kLanes * kBlock, length -= kLanes * kBlock) {
    lane0 = _mm_xor_si128(Fold(lane0, byFour), LoadBlock(bytes, reversal));
    lane1 = _mm_xor_si128(Fold(lane1, byFour), LoadBlock(bytes + kBlock, reversal));
    lane2 = _mm_xor_si128(Fold(lane2, byFour), LoadBlock(bytes + 2 * kBlock, reversal));
    lane3 = _mm_xor_si128(Fold(lane3, byFour), LoadBlock(bytes + 3 * kBlock, reversal));
  }

  __m128i folded = _mm_xor_si128(Fold(lane0, byOne), lane1);
  folded = _mm_xor_si128(Fold(folded, byOne), lane2);
  folded = _mm_xor_si128(Fold(folded, byOne), lane3);
  for (; length >= kBlock; bytes += kBlock, length -= kBlock) {
    folded = _mm_xor_si128(Fold(folded, byOne), LoadBlock(bytes, reversal));
  }

  alignas(16) unsigned char last[kBlock];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), _mm_shuffle_epi8(folded, reversal));
  return SegmentCrcByTable(bytes, length, SegmentCrcByTable(last, kBlock, 0));
}

}  // namespace

bool SegmentCrcFoldingAvailable() {
  static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return available;
}

std::uint32_t SegmentCrcByFolding(const void* data, std::size_t length, std::uint32_t crc) {
  if (length < kLanes * kBlock) return SegmentCrcByTable(data, length, crc);
  return FoldBlocks(static_cast<const unsigned char*>(data), length, crc);
}

#else

bool SegmentCrcFoldingAvailable() {
  return false;
}

std::uint32_t SegmentCrcByFolding(const void* data, std::size_t length, std::uint32_t crc) {
  return SegmentCrcByTable(data, length, crc);
}

#endif

std::uint32_t SegmentCrc(const void* data, std::size_t length, std::uint32_t crc) {
  static const auto implementation = SegmentCrcFoldingAvailable() ? SegmentCrcByFolding : SegmentCrcByTable;
  return implementation(data, length, crc);
}

}  // namespace NolkUtil
