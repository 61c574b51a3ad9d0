// The C runtime on Windows has no aligned_alloc: every block comes from
// _aligned_malloc, so that one release call fits all of them.
#include <malloc.h>

#include "KernelStandard/platform/Memory.h"

namespace OS {

void* AllocateAlignedBlock(std::size_t size, std::size_t alignment) {
  return ::_aligned_malloc(size != 0 ? size : 1, alignment != 0 ? alignment : 16);
}

void FreeAlignedBlock(void* block) {
  ::_aligned_free(block);
}

}  // namespace OS
