// Vek::StringPool: interned, reference-counted 8-bit strings. Equal texts
// share one stored copy, which lives until its last reference is released.
// The copies' characters come from the small-block allocator; one
// critical section guards the pool.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "KernelStandard/CriticalSection.h"
#include "KernelStandard/alloc/SmallBlockAllocator.h"

namespace Vek {

class StringPool {
 public:
  // The stored copy of the text, with one more reference.
  const Alloc::Text* Acquire(std::string_view text);
  // Drops a reference taken by Acquire; the copy goes with its last one.
  void Release(const Alloc::Text* text);
  std::size_t Size();

 private:
  CriticalSection m_lock;
  std::map<Alloc::Text, std::size_t, std::less<>> m_strings;  // text -> references
};

}  // namespace Vek
