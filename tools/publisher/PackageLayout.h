// Where the parts of a standalone patch go: the patcher executable, zeros up
// to the next multiple of 4,096, the 72-byte package header, the patch
// archives one after another, the build-hash table and the patch table,
// which ends at the end of the file. Offsets are absolute file offsets.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

// The reader compares the whole file's length with the header's 32-bit file
// size, so a standalone patch must stay below 4 GiB.
inline constexpr std::uint64_t kMaxPackageFileSize = (std::uint64_t{1} << 32) - 1;

struct PackageLayout {
  std::uint64_t paddingLength = 0;  // zeros after the executable
  std::uint64_t headerOffset = 0;
  std::vector<std::uint64_t> archiveOffsets;
  std::uint64_t buildHashTableOffset = 0;
  std::uint64_t patchTableOffset = 0;
  // The whole file's length; saturates at the largest 64-bit value rather
  // than wrapping, so absurd inputs still fail the size check.
  std::uint64_t totalSize = 0;
};

// With `signatureRoom`, the padding holds at least that many bytes (4,096
// more when the patcher's end leaves fewer before the next boundary), so
// the publisher's signature block fits right before the header.
PackageLayout PlanPackageLayout(std::uint64_t patcherSize, const std::vector<std::uint64_t>& archiveSizes,
                                std::size_t buildHashCount, std::uint64_t signatureRoom = 0);

// Refused when the file would reach 4 GiB.
PublisherResult CheckPackageSize(const PackageLayout& layout);

}  // namespace KorvelTools
