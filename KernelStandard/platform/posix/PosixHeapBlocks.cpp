#include <cstdlib>

#include "KernelStandard/platform/Memory.h"

namespace OS {

void* AllocateAlignedBlock(std::size_t size, std::size_t alignment) {
  const std::size_t bytes = size != 0 ? size : 1;
  if (alignment == 0) return std::malloc(bytes);
  // aligned_alloc wants a size that is a multiple of the alignment.
  return std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
}

void FreeAlignedBlock(void* block) {
  std::free(block);
}

}  // namespace OS
