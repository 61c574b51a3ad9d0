// A byte vector whose resize leaves new bytes uninitialised. Whole files
// and rebuilt files are filled right after they are sized, so zeroing them
// first would only cost one more pass over memory (tens of milliseconds on
// installation-sized files).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace KorvelTools {

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
 public:
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  using std::allocator<T>::allocator;

  template <typename U>
  void construct(U* place) {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

using UninitializedBytes = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

}  // namespace KorvelTools
