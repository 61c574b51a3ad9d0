#include "KernelStandard/Md5.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace NolkUtil {
namespace {

constexpr std::size_t kBlockSize = 64;
// Files are read in blocks of this size: large enough that the read calls
// cost nothing beside the compression.
constexpr std::size_t kFileReadSize = 1 << 20;

inline std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  return word;
}

inline void StoreLittleEndian(std::uint32_t word, std::uint8_t* bytes) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  std::memcpy(bytes, &word, sizeof word);
}

// The auxiliary functions F, H and I of RFC 1321, in forms that need fewer
// operations than the textbook ones but give the same results (G is folded
// into StepG below).
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (x | ~z);
}

// The word and constant are added first: that sum does not wait for the
// previous step, so it overlaps with the computation of b, c and d.
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                 std::uint32_t constant, int shift) {
  a = b + std::rotl((a + word + constant) + Fn(b, c, d), shift);
}

// Round 2 splits G into two disjoint terms, (d & b) and (~d & c), which can
// be added one after the other without an OR: ~d & c depends only on c and
// d, which are ready before b.
inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                  std::uint32_t constant, int shift) {
  a = b + std::rotl((a + word + constant + (~d & c)) + (d & b), shift);
}

void CompressBlock(std::array<std::uint32_t, 4>& state, const std::uint8_t* block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  Step<F>(a, b, c, d, x[0], 0xd76aa478, 7);
  Step<F>(d, a, b, c, x[1], 0xe8c7b756, 12);
  Step<F>(c, d, a, b, x[2], 0x242070db, 17);
  Step<F>(b, c, d, a, x[3], 0xc1bdceee, 22);
  Step<F>(a, b, c, d, x[4], 0xf57c0faf, 7);
  Step<F>(d, a, b, c, x[5], 0x4787c62a, 12);
  Step<F>(c, d, a, b, x[6], 0xa8304613, 17);
  Step<F>(b, c, d, a, x[7], 0xfd469501, 22);
  Step<F>(a, b, c, d, x[8], 0x698098d8, 7);
  Step<F>(d, a, b, c, x[9], 0x8b44f7af, 12);
  Step<F>(c, d, a, b, x[10], 0xffff5bb1, 17);
  Step<F>(b, c, d, a, x[11], 0x895cd7be, 22);
  Step<F>(a, b, c, d, x[12], 0x6b901122, 7);
  Step<F>(d, a, b, c, x[13], 0xfd987193, 12);
  Step<F>(c, d, a, b, x[14], 0xa679438e, 17);
  Step<F>(b, c, d, a, x[15], 0x49b40821, 22);

  StepG(a, b, c, d, x[1], 0xf61e2562, 5);
  StepG(d, a, b, c, x[6], 0xc040b340, 9);
  StepG(c, d, a, b, x[11], 0x265e5a51, 14);
  StepG(b, c, d, a, x[0], 0xe9b6c7aa, 20);
  StepG(a, b, c, d, x[5], 0xd62f105d, 5);
  StepG(d, a, b, c, x[10], 0x02441453, 9);
  StepG(c, d, a, b, x[15], 0xd8a1e681, 14);
  StepG(b, c, d, a, x[4], 0xe7d3fbc8, 20);
  StepG(a, b, c, d, x[9], 0x21e1cde6, 5);
  StepG(d, a, b, c, x[14], 0xc33707d6, 9);
  StepG(c, d, a, b, x[3], 0xf4d50d87, 14);
  StepG(b, c, d, a, x[8], 0x455a14ed, 20);
  StepG(a, b, c, d, x[13], 0xa9e3e905, 5);
  StepG(d, a, b, c, x[2], 0xfcefa3f8, 9);
  StepG(c, d, a, b, x[7], 0x676f02d9, 14);
  StepG(b, c, d, a, x[12], 0x8d2a4c8a, 20);

  Step<H>(a, b, c, d, x[5], 0xfffa3942, 4);
  Step<H>(d, a, b, c, x[8], 0x8771f681, 11);
  Step<H>(c, d, a, b, x[11], 0x6d9d6122, 16);
  Step<H>(b, c, d, a, x[14], 0xfde5380c, 23);
  Step<H>(a, b, c, d, x[1], 0xa4beea44, 4);
  Step<H>(d, a, b, c, x[4], 0x4bdecfa9, 11);
  Step<H>(c, d, a, b, x[7], 0xf6bb4b60, 16);
  Step<H>(b, c, d, a, x[10], 0xbebfbc70, 23);
  Step<H>(a, b, c, d, x[13], 0x289b7ec6, 4);
  Step<H>(d, a, b, c, x[0], 0xeaa127fa, 11);
  Step<H>(c, d, a, b, x[3], 0xd4ef3085, 16);
  Step<H>(b, c, d, a, x[6], 0x04881d05, 23);
  Step<H>(a, b, c, d, x[9], 0xd9d4d039, 4);
  Step<H>(d, a, b, c, x[12], 0xe6db99e5, 11);
  Step<H>(c, d, a, b, x[15], 0x1fa27cf8, 16);
  Step<H>(b, c, d, a, x[2], 0xc4ac5665, 23);

  Step<I>(a, b, c, d, x[0], 0xf4292244, 6);
  Step<I>(d, a, b, c, x[7], 0x432aff97, 10);
  Step<I>(c, d, a, b, x[14], 0xab9423a7, 15);
  Step<I>(b, c, d, a, x[5], 0xfc93a039, 21);
  Step<I>(a, b, c, d, x[12], 0x655b59c3, 6);
  Step<I>(d, a, b, c, x[3], 0x8f0ccc92, 10);
  Step<I>(c, d, a, b, x[10], 0xffeff47d, 15);
  Step<I>(b, c, d, a, x[1], 0x85845dd1, 21);
  Step<I>(a, b, c, d, x[8], 0x6fa87e4f, 6);
  Step<I>(d, a, b, c, x[15], 0xfe2ce6e0, 10);
  Step<I>(c, d, a, b, x[6], 0xa3014314, 15);
  Step<I>(b, c, d, a, x[13], 0x4e0811a1, 21);
  Step<I>(a, b, c, d, x[4], 0xf7537e82, 6);
  Step<I>(d, a, b, c, x[11], 0xbd3af235, 10);
  Step<I>(c, d, a, b, x[2], 0x2ad7d2bb, 15);
  Step<I>(b, c, d, a, x[9], 0xeb86d391, 21);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5::Init() {
  m_state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  m_length = 0;
  m_pendingLength = 0;
}

void Md5::CompressBlocks(const std::uint8_t* blocks, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) CompressBlock(m_state, blocks + i * kBlockSize);
}

void Md5::Update(const void* data, std::size_t length) {
  if (length == 0) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_length += length;
  if (m_pendingLength > 0) {
    const std::size_t take = std::min(length, kBlockSize - m_pendingLength);
    std::memcpy(m_pending.data() + m_pendingLength, bytes, take);
    m_pendingLength += take;
    bytes += take;
    length -= take;
    if (m_pendingLength < kBlockSize) return;
    CompressBlocks(m_pending.data(), 1);
    m_pendingLength = 0;
  }
  const std::size_t wholeBlocks = length / kBlockSize;
  CompressBlocks(bytes, wholeBlocks);
  bytes += wholeBlocks * kBlockSize;
  length -= wholeBlocks * kBlockSize;
  if (length > 0) std::memcpy(m_pending.data(), bytes, length);
  m_pendingLength = length;
}

Md5::Digest Md5::Final() {
  // Padding: one 0x80 byte, zeros up to 56 bytes into the last block, then
  // the message length in bits as a 64-bit little-endian number.
  const std::uint64_t bitLength = m_length * 8;
  std::array<std::uint8_t, 2 * kBlockSize> tail{};
  std::memcpy(tail.data(), m_pending.data(), m_pendingLength);
  tail[m_pendingLength] = 0x80;
  const std::size_t tailBlocks = m_pendingLength < 56 ? 1 : 2;
  std::uint8_t* lengthField = tail.data() + tailBlocks * kBlockSize - 8;
  StoreLittleEndian(static_cast<std::uint32_t>(bitLength), lengthField);
  StoreLittleEndian(static_cast<std::uint32_t>(bitLength >> 32), lengthField + 4);
  CompressBlocks(tail.data(), tailBlocks);

  Digest digest;
  for (int i = 0; i < 4; ++i) StoreLittleEndian(m_state[i], digest.data() + 4 * i);
  m_pendingLength = 0;
  return digest;
}

std::string DigestToHex(const Md5::Digest& digest) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (std::uint8_t byte : digest) {
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 0x0f]);
  }
  return hex;
}

std::string Md5Hex(const void* data, std::size_t length) {
  Md5 md5;
  md5.Update(data, length);
  return DigestToHex(md5.Final());
}

bool Md5OfFile(const std::wstring& path, std::string& hex) {
  hex.clear();
  OS::Platform& os = OS::Current();
  const int fd = os.OpenDescriptor(path, OS::OpenMode::Read);
  if (fd < 0) return false;
  std::vector<std::uint8_t> buffer(kFileReadSize);
  Md5 md5;
  long count;
  while ((count = os.ReadDescriptor(fd, buffer.data(), buffer.size())) > 0)
    md5.Update(buffer.data(), static_cast<std::size_t>(count));
  os.CloseDescriptor(fd);
  if (count < 0) return false;
  hex = DigestToHex(md5.Final());
  return true;
}

}  // namespace NolkUtil
