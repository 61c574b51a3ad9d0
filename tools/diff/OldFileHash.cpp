#include "tools/diff/OldFileHash.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace KorvelTools {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ull;

// One unaligned load on little-endian machines (the hash runs over whole
// files, so this matters); assembled byte by byte elsewhere.
std::uint64_t LoadLE64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, bytes, sizeof value);
  } else {
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  }
  return value;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

std::uint64_t Avalanche(std::uint64_t value) {
  value ^= value >> 33;
  value *= kPrime2;
  value ^= value >> 29;
  value *= kPrime1;
  return value ^ (value >> 32);
}

}  // namespace

OldFileHasher::OldFileHasher()
    : m_lanes{kFnvOffsetBasis + kPrime1, kFnvOffsetBasis ^ kPrime2, kFnvOffsetBasis,
              kFnvOffsetBasis - kPrime1} {}

void OldFileHasher::ConsumeStripe(const std::uint8_t* stripe) {
  for (int lane = 0; lane < 4; ++lane) m_lanes[lane] = Round(m_lanes[lane], LoadLE64(stripe + 8 * lane));
}

void OldFileHasher::Update(std::span<const std::uint8_t> data) {
  m_totalLength += data.size();
  if (m_pendingLength > 0) {
    const std::size_t taken = std::min(kStripe - m_pendingLength, data.size());
    std::memcpy(m_pending + m_pendingLength, data.data(), taken);
    m_pendingLength += taken;
    data = data.subspan(taken);
    if (m_pendingLength < kStripe) return;
    ConsumeStripe(m_pending);
    m_pendingLength = 0;
  }
  while (data.size() >= kStripe) {
    ConsumeStripe(data.data());
    data = data.subspan(kStripe);
  }
  if (!data.empty()) std::memcpy(m_pending, data.data(), data.size());
  m_pendingLength = data.size();
}

std::uint64_t OldFileHasher::Finish() const {
  std::uint64_t hash = std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7) + std::rotl(m_lanes[2], 12) +
                       std::rotl(m_lanes[3], 18);
  std::size_t position = 0;
  for (; position + 8 <= m_pendingLength; position += 8) hash = Round(hash, LoadLE64(m_pending + position));
  for (; position < m_pendingLength; ++position) hash = (hash ^ m_pending[position]) * kFnvPrime;
  return Avalanche(hash ^ m_totalLength);
}

std::uint64_t OldFileHash(std::span<const std::uint8_t> data) {
  OldFileHasher hasher;
  hasher.Update(data);
  return hasher.Finish();
}

}  // namespace KorvelTools
