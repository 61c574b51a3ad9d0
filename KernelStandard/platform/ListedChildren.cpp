#include "KernelStandard/platform/ListedChildren.h"

namespace OS {

std::atomic<int> ListedChildren::s_slots[kSlots];

void ListedChildren::Add(int pid) {
  for (std::atomic<int>& slot : s_slots) {
    int expected = 0;
    if (slot.compare_exchange_strong(expected, pid)) return;
  }
}

void ListedChildren::Remove(int pid) {
  for (std::atomic<int>& slot : s_slots) {
    int expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

}  // namespace OS
