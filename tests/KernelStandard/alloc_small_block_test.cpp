// The kernel's small-block allocator: block sizes and classes, reuse
// through the free lists, chunk refills, large blocks from the heap, and
// many threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "KernelStandard/alloc/SmallBlockAlloc.h"

namespace {

TEST(SmallBlockAllocTest, RequestsTakeHeaderAndDataInStepsOfEight) {
  EXPECT_EQ(Alloc::BlockBytes(0), 8u);
  EXPECT_EQ(Alloc::BlockBytes(4), 8u);
  EXPECT_EQ(Alloc::BlockBytes(5), 16u);
  EXPECT_EQ(Alloc::BlockBytes(12), 16u);
  EXPECT_EQ(Alloc::BlockBytes(13), 24u);
  EXPECT_EQ(Alloc::BlockBytes(1012), 1016u);  // class 127, the largest from the lists
  EXPECT_EQ(Alloc::BlockBytes(1013), 1024u);  // class 128, from the heap
  for (std::size_t n = 0; n < 2000; ++n) {
    EXPECT_GE(Alloc::BlockBytes(n), n + 4);
    EXPECT_LT(Alloc::BlockBytes(n), n + 12);
  }
  EXPECT_EQ(Alloc::ListLimit(0), 1u);
  EXPECT_EQ(Alloc::ListLimit(1), 1025u);
  EXPECT_EQ(Alloc::ListLimit(127), 9u);
}

TEST(SmallBlockAllocTest, AReleasedBlockIsHandedOutAgainAndHoldsItsData) {
  // 100 bytes: class 13.
  char* first = static_cast<char*>(Alloc::New(100));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 8, 4u);  // after the 4-byte header
  std::memset(first, 'x', 100);
  const std::size_t freeBefore = Alloc::FreeBlocks(13);
  Alloc::Delete(first);
  EXPECT_EQ(Alloc::FreeBlocks(13), freeBefore + 1);
  char* again = static_cast<char*>(Alloc::New(97));  // the same class
  EXPECT_EQ(again, first);
  EXPECT_EQ(Alloc::FreeBlocks(13), freeBefore);
  Alloc::Delete(again);
  Alloc::Delete(nullptr);
}

TEST(SmallBlockAllocTest, AnEmptyListIsRefilledWithOneChunk) {
  // 500 bytes: blocks of 504 bytes, class 63; 65 of them fit a chunk.
  constexpr std::size_t kRequest = 500;
  constexpr std::size_t kPerChunk = Alloc::kChunkBytes / 504;
  std::vector<void*> blocks;
  // Empty the list first, whatever earlier tests left on it.
  while (Alloc::FreeBlocks(63) > 0) blocks.push_back(Alloc::New(kRequest));
  const std::size_t chunksBefore = Alloc::ChunkCount();
  blocks.push_back(Alloc::New(kRequest));
  EXPECT_EQ(Alloc::ChunkCount(), chunksBefore + 1);
  EXPECT_EQ(Alloc::FreeBlocks(63), kPerChunk - 1);
  for (std::size_t i = 1; i < kPerChunk; ++i) blocks.push_back(Alloc::New(kRequest));
  EXPECT_EQ(Alloc::ChunkCount(), chunksBefore + 1);
  EXPECT_EQ(Alloc::FreeBlocks(63), 0u);
  blocks.push_back(Alloc::New(kRequest));
  EXPECT_EQ(Alloc::ChunkCount(), chunksBefore + 2);

  // Blocks never overlap, and chunk blocks all go back to the list, beyond
  // the list's limit for heap blocks.
  std::set<std::uintptr_t> starts;
  for (void* block : blocks) starts.insert(reinterpret_cast<std::uintptr_t>(block));
  ASSERT_EQ(starts.size(), blocks.size());
  for (auto next = std::next(starts.begin()); next != starts.end(); ++next) {
    EXPECT_GE(*next - *std::prev(next), kRequest + 4);
  }
  const std::size_t freeBefore = Alloc::FreeBlocks(63);
  for (void* block : blocks) Alloc::Delete(block);
  EXPECT_EQ(Alloc::FreeBlocks(63), freeBefore + blocks.size());
  EXPECT_GT(Alloc::FreeBlocks(63), Alloc::ListLimit(63));
}

TEST(SmallBlockAllocTest, LargeBlocksComeFromTheHeapAndAreCounted) {
  const std::uint64_t requests = Alloc::LargeRequests();
  const std::uint64_t bytes = Alloc::LargeBytes();
  const std::size_t chunks = Alloc::ChunkCount();
  char* large = static_cast<char*>(Alloc::New(5000));
  std::memset(large, 'y', 5000);
  EXPECT_EQ(Alloc::LargeRequests(), requests + 1);
  EXPECT_EQ(Alloc::LargeBytes(), bytes + Alloc::BlockBytes(5000));
  EXPECT_EQ(Alloc::ChunkCount(), chunks);
  Alloc::Delete(large);
  EXPECT_EQ(Alloc::LargeBytes(), bytes);
  EXPECT_EQ(Alloc::LargeRequests(), requests + 1);  // a count of requests, not of live blocks
}

TEST(SmallBlockAllocTest, AnImpossibleRequestThrowsBadAlloc) {
  EXPECT_THROW(Alloc::New(~std::size_t{0} - 4), std::bad_alloc);
}

TEST(SmallBlockAllocTest, ThreadsShareTheListsWithoutLosingData) {
  auto work = [](unsigned seed) {
    std::vector<std::pair<unsigned char*, std::size_t>> live;
    std::uint32_t state = seed;
    for (int round = 0; round < 20000; ++round) {
      state = state * 1664525u + 1013904223u;
      if (live.size() < 64 && (state >> 31) == 0) {
        const std::size_t size = (state >> 8) % 1500;  // small and large classes
        auto* block = static_cast<unsigned char*>(Alloc::New(size));
        std::memset(block, static_cast<int>(size & 0xFF), size);
        live.emplace_back(block, size);
      } else if (!live.empty()) {
        auto [block, size] = live.back();
        live.pop_back();
        for (std::size_t i = 0; i < size; ++i) {
          if (block[i] != static_cast<unsigned char>(size & 0xFF)) {
            ADD_FAILURE() << "block of " << size << " bytes overwritten at " << i;
            break;
          }
        }
        Alloc::Delete(block);
      }
    }
    for (auto [block, size] : live) Alloc::Delete(block);
  };
  std::thread first(work, 1u), second(work, 2u), third(work, 3u);
  first.join();
  second.join();
  third.join();
}

}  // namespace
