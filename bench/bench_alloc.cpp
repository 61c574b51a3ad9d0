// Cost of the allocation tracker: nanoseconds per new/delete pair through
// the tracked global operators beside the plain heap underneath them
// (malloc/free, what the operators do without the tracker), one thread and
// two, on the same sizes in the same run. The pairs are made ten calls deep,
// so the tracker walks a stack of the depth a program has.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <thread>
#include <vector>

#include "KernelStandard/alloc/AllocationTracker.h"

namespace {

using Vek::AllocationTracker;

constexpr int kPairsPerThread = 400000;
constexpr int kLive = 64;  // blocks kept alive at once, as a program does
constexpr int kDepth = 10;
constexpr int kRuns = 3;

struct Tracked {
  static void* New(std::size_t size) { return ::operator new(size); }
  static void Delete(void* block) { ::operator delete(block); }
};
struct Plain {
  static void* New(std::size_t size) { return AllocationTracker::HeapAllocate(size, 0); }
  static void Delete(void* block) { AllocationTracker::HeapFree(block); }
};

template <typename Heap>
__attribute__((noinline)) void Pairs(int depth, void** live) {
  if (depth > 0) {
    Pairs<Heap>(depth - 1, live);
    asm volatile("" ::: "memory");
    return;
  }
  std::uint32_t state = 12345;
  for (int i = 0; i < kPairsPerThread; ++i) {
    state = state * 1664525u + 1013904223u;
    const int slot = static_cast<int>(state >> 26) % kLive;
    Heap::Delete(live[slot]);
    live[slot] = Heap::New(16 + (state >> 8) % 240);
  }
}

// Wall time per pair with `threads` threads at once (each doing its share).
template <typename Heap>
double NanosecondsPerPair(int threads) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    const auto start = std::chrono::steady_clock::now();
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        void* live[kLive];
        for (void*& block : live) block = Heap::New(32);
        ready.fetch_add(1);
        Pairs<Heap>(kDepth, live);
        for (void* block : live) Heap::Delete(block);
      });
    }
    for (std::thread& worker : workers) worker.join();
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count() / (double(kPairsPerThread) * threads));
  }
  return best;
}

}  // namespace

int main() {
  if (AllocationTracker::Global() == nullptr || AllocationTracker::Global()->Owner() != 0) {
    std::printf("the allocation tracker is not on in this program (KORVEL_ALLOC_TRACKING=off?)\n");
    return 1;
  }
  std::printf(
      "new/delete pairs, sizes 16..255 bytes, %d live, %d calls deep (best of %d runs; wall time per pair, "
      "all threads together)\n",
      kLive, kDepth, kRuns);
  for (const int threads : {1, 2}) {
    const double tracked = NanosecondsPerPair<Tracked>(threads);
    const double plain = NanosecondsPerPair<Plain>(threads);
    std::printf("  %d thread%s: tracker %7.1f ns/pair   plain heap %6.1f ns/pair   ratio %.1f\n", threads,
                threads == 1 ? " " : "s", tracked, plain, tracked / plain);
  }
  return 0;
}
