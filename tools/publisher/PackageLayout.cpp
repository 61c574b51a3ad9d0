#include "tools/publisher/PackageLayout.h"

#include <limits>
#include <string>

#include "patch/PackageFormat.h"

namespace KorvelTools {
namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();

std::uint64_t Add(std::uint64_t left, std::uint64_t right) {
  return right > kLargest - left ? kLargest : left + right;
}

std::uint64_t Multiply(std::uint64_t count, std::uint64_t width) {
  return count != 0 && width > kLargest / count ? kLargest : count * width;
}

}  // namespace

PackageLayout PlanPackageLayout(std::uint64_t patcherSize, const std::vector<std::uint64_t>& archiveSizes,
                                std::size_t buildHashCount, std::uint64_t signatureRoom) {
  PackageLayout layout;
  const std::uint64_t alignment = NolkPatch::kPackageAlignment;
  layout.paddingLength = (alignment - patcherSize % alignment) % alignment;
  if (layout.paddingLength < signatureRoom) layout.paddingLength += alignment;
  layout.headerOffset = Add(patcherSize, layout.paddingLength);
  std::uint64_t position = Add(layout.headerOffset, NolkPatch::kPackageHeaderSize);
  for (std::uint64_t size : archiveSizes) {
    layout.archiveOffsets.push_back(position);
    position = Add(position, size);
  }
  layout.buildHashTableOffset = position;
  layout.patchTableOffset = Add(position, Multiply(buildHashCount, NolkPatch::kBuildHashEntrySize));
  layout.totalSize = Add(layout.patchTableOffset, Multiply(archiveSizes.size(), NolkPatch::kPatchEntrySize));
  return layout;
}

PublisherResult CheckPackageSize(const PackageLayout& layout) {
  if (layout.totalSize <= kMaxPackageFileSize) return PublisherResult::Success();
  return PublisherResult::Refuse("the standalone patch would be " + std::to_string(layout.totalSize) +
                                 " bytes; it must stay below 4 GiB (4294967296 bytes)");
}

}  // namespace KorvelTools
