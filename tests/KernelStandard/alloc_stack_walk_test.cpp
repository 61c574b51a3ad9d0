// The tracker's stack walk: once frame sizes are learned, walks follow
// them; every walk must still give exactly the frames the unwinder gives,
// at any depth, on any thread, and through frames sized at run time.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(AllocationStackWalkPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: the walks are compared with glibc's backtrace()";
}
#else
#include <alloca.h>
#include <execinfo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "KernelStandard/platform/Memory.h"

namespace {

constexpr int kFrames = 18;

struct Walks {
  std::vector<void*> ours;       // OS::WalkCallStack, from the innermost frame's caller on
  std::vector<void*> reference;  // glibc's backtrace (the unwinder), the same frames
};

// Both walks from the same function, so their frames above it agree.
__attribute__((noinline)) Walks WalkHere() {
  Walks walks;
  void* ours[kFrames];
  void* reference[kFrames + 1];
  const int count = OS::WalkCallStack(ours, kFrames, 0);
  const int referenceCount = backtrace(reference, kFrames + 1);
  // ours[0] and reference[0] are two return addresses inside this function.
  walks.ours.assign(ours + 1, ours + count);
  walks.reference.assign(reference + 1, reference + std::min(referenceCount, count));
  asm volatile("" ::: "memory");
  return walks;
}

__attribute__((noinline)) Walks Recurse(int depth) {
  if (depth == 0) return WalkHere();
  Walks walks = Recurse(depth - 1);
  asm volatile("" ::: "memory");
  return walks;
}

// A frame whose size is chosen at run time.
__attribute__((noinline)) Walks WithDynamicFrame(std::size_t bytes, int depth) {
  char* scratch = static_cast<char*>(alloca(bytes));
  std::memset(scratch, 0, bytes);
  asm volatile("" : : "r"(scratch) : "memory");
  Walks walks = Recurse(depth);
  asm volatile("" : : "r"(scratch) : "memory");
  return walks;
}

void ExpectSameFrames(const Walks& walks) {
  ASSERT_GE(walks.ours.size(), 3u);
  // Under AddressSanitizer backtrace() is the sanitizer's, which puts a
  // frame of its own first: the chains are compared from our first frame.
  std::size_t start = 0;
  while (start < 3 && start < walks.reference.size() && walks.reference[start] != walks.ours[0]) ++start;
  ASSERT_LT(start, walks.reference.size());
  const std::size_t length = std::min(walks.ours.size(), walks.reference.size() - start);
  ASSERT_GE(length + 2, walks.ours.size());
  const std::vector<void*> ours(walks.ours.begin(), walks.ours.begin() + length);
  const std::vector<void*> reference(walks.reference.begin() + start,
                                     walks.reference.begin() + start + length);
  EXPECT_EQ(ours, reference);
}

TEST(AllocationStackWalkTest, RepeatedWalksGiveTheUnwindersFrames) {
  for (int round = 0; round < 3; ++round) {
    for (const int depth : {0, 3, 10, 25}) {
      SCOPED_TRACE(depth);
      ExpectSameFrames(Recurse(depth));
    }
  }
}

TEST(AllocationStackWalkTest, FramesSizedAtRunTimeAreNotFollowedBlindly) {
  for (const std::size_t bytes : {16u, 4096u, 16u, 200u, 9000u, 16u}) {
    SCOPED_TRACE(bytes);
    ExpectSameFrames(WithDynamicFrame(bytes, 2));
  }
}

TEST(AllocationStackWalkTest, ThreadsWalkTheirOwnStacks) {
  auto work = [] {
    for (int round = 0; round < 200; ++round) ExpectSameFrames(Recurse(round % 7));
  };
  std::thread first(work), second(work);
  first.join();
  second.join();
}

TEST(AllocationStackWalkTest, ACapacityBelowTheDepthIsFilledExactly) {
  void* frames[4];
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(OS::WalkCallStack(frames, 4, 0), 4);
    EXPECT_EQ(OS::WalkCallStack(frames, 4, 2), 4);
  }
}

}  // namespace

#endif  // _WIN32
