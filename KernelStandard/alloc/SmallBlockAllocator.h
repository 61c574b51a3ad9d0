// Alloc::TextAllocator: a standard allocator over Alloc::New, for the
// characters of the kernel's 8-bit texts (the string pool's copies). Blocks
// from Alloc::New are only 4-byte aligned, so the allocator refuses types
// that need more.
#pragma once

#include <cstddef>
#include <string>

#include "KernelStandard/alloc/SmallBlockAlloc.h"

namespace Alloc {

template <typename T>
struct TextAllocator {
  static_assert(alignof(T) <= 4, "Alloc::New blocks are 4-byte aligned");
  using value_type = T;

  TextAllocator() noexcept = default;
  template <typename U>
  TextAllocator(const TextAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) { return static_cast<T*>(New(count * sizeof(T))); }
  void deallocate(T* block, std::size_t) noexcept { Delete(block); }

  template <typename U>
  bool operator==(const TextAllocator<U>&) const noexcept {
    return true;
  }
};

// An 8-bit text whose characters live in small blocks.
using Text = std::basic_string<char, std::char_traits<char>, TextAllocator<char>>;

}  // namespace Alloc
