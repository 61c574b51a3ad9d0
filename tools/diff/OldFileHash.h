// The hash a diff stores of the old file it was made from: a fast 64-bit
// multiply-rotate hash over four interleaved 64-bit lanes (so it runs at
// memory speed on large files), seeded from the FNV-1a offset basis, with
// the tail folded in FNV-1a style and a final avalanche step. It detects a
// wrong or damaged old file; it is not a cryptographic digest.
//
// The hasher takes the file in pieces of any size, so a file can be hashed
// while it is read, when its bytes are still in the cache; the result is the
// same as hashing the whole file at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace KorvelTools {

class OldFileHasher {
 public:
  OldFileHasher();
  void Update(std::span<const std::uint8_t> data);
  std::uint64_t Finish() const;

 private:
  static constexpr std::size_t kStripe = 32;
  void ConsumeStripe(const std::uint8_t* stripe);

  std::uint64_t m_lanes[4];
  std::uint8_t m_pending[kStripe] = {};
  std::size_t m_pendingLength = 0;
  std::uint64_t m_totalLength = 0;
};

std::uint64_t OldFileHash(std::span<const std::uint8_t> data);

}  // namespace KorvelTools
