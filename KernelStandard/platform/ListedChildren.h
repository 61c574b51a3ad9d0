// The child processes that the console interrupt is passed on to: started
// in a process group of their own and not yet waited for. A fixed table of
// atomics, lock-free, because the interrupt is passed on from a signal or
// console-control handler. The patcher runs a few tools at a time; a child
// that finds no free slot is simply not interrupted.
#pragma once

#include <atomic>

namespace OS {

class ListedChildren {
 public:
  static constexpr int kSlots = 64;

  static void Add(int pid);
  static void Remove(int pid);
  // Calls `visit` with every listed child; only atomics, so it may run in
  // a signal handler when `visit` may.
  template <typename Visit>
  static void ForEach(Visit visit) {
    for (std::atomic<int>& slot : s_slots) {
      const int pid = slot.load();
      if (pid != 0) visit(pid);
    }
  }

 private:
  static std::atomic<int> s_slots[kSlots];  // 0 marks a free slot
};

}  // namespace OS
