// The small-block allocator. A free block holds, in its first 8 bytes, the
// next free block of its list with the block's own chunk flag in the lowest
// bit (blocks are 8-byte aligned, so that bit is free); the header is
// written again when the block is handed out.
#include "KernelStandard/alloc/SmallBlockAlloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "KernelStandard/platform/Memory.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define KORVEL_POISON(address, length) ASAN_POISON_MEMORY_REGION(address, length)
#define KORVEL_UNPOISON(address, length) ASAN_UNPOISON_MEMORY_REGION(address, length)
// Chunks are kept for good, reachable only through the flagged links of
// their free blocks, which the leak checker does not take for pointers.
#define KORVEL_KEEP_FOR_GOOD(address) __lsan_ignore_object(address)
#else
#define KORVEL_POISON(address, length) ((void)(address), (void)(length))
#define KORVEL_UNPOISON(address, length) ((void)(address), (void)(length))
#define KORVEL_KEEP_FOR_GOOD(address) ((void)(address))
#endif

namespace Alloc {
namespace {

constexpr std::uint32_t kChunkFlag = 0x80000000u;
constexpr std::size_t kHeaderBytes = 4;
constexpr int kLockCount = 16;
constexpr std::size_t kLargestRequest = (std::size_t{kChunkFlag} - 1) * 8 - 11;

struct FreeList {
  unsigned char* head = nullptr;
  std::size_t count = 0;
};

std::mutex g_locks[kLockCount];
FreeList g_lists[kLargeClass];
std::atomic<std::size_t> g_chunks{0};
std::atomic<std::uint64_t> g_largeRequests{0};
std::atomic<std::uint64_t> g_largeBytes{0};

[[noreturn]] void OutOfMemory() {
  static const char kMessage[] = "Alloc::New> out of memory!\n";
  OS::WriteDebuggerText(kMessage, sizeof(kMessage) - 1);
  throw std::bad_alloc();
}

void WriteHeader(unsigned char* block, std::uint32_t header) {
  std::memcpy(block, &header, sizeof(header));
}

// Puts a block on its list (the caller holds the list's lock).
void Push(FreeList& list, unsigned char* block, std::size_t blockBytes, bool fromChunk) {
  KORVEL_POISON(block, blockBytes);
  KORVEL_UNPOISON(block, sizeof(std::uintptr_t));
  const std::uintptr_t link = reinterpret_cast<std::uintptr_t>(list.head) | (fromChunk ? 1u : 0u);
  std::memcpy(block, &link, sizeof(link));
  KORVEL_POISON(block, sizeof(std::uintptr_t));
  list.head = block;
  ++list.count;
}

// Takes the first block of a non-empty list; tells whether it came from a
// chunk.
unsigned char* Pop(FreeList& list, bool& fromChunk) {
  unsigned char* block = list.head;
  KORVEL_UNPOISON(block, sizeof(std::uintptr_t));
  std::uintptr_t link = 0;
  std::memcpy(&link, block, sizeof(link));
  fromChunk = (link & 1u) != 0;
  list.head = reinterpret_cast<unsigned char*>(link & ~std::uintptr_t{1});
  --list.count;
  return block;
}

void* HandOut(unsigned char* block, std::size_t n, std::uint32_t header) {
  KORVEL_UNPOISON(block, kHeaderBytes + n);
  WriteHeader(block, header);
  return block + kHeaderBytes;
}

}  // namespace

std::size_t BlockBytes(std::size_t n) {
  return (n + 11) / 8 * 8;
}

std::uint32_t ListLimit(std::uint32_t blockClass) {
  return blockClass == 0 ? 1 : 8192 / (8 * blockClass) + 1;
}

void* New(std::size_t n) {
  if (n > kLargestRequest) OutOfMemory();
  const std::size_t blockBytes = BlockBytes(n);
  const auto blockClass = static_cast<std::uint32_t>(blockBytes / 8);
  if (blockClass >= kLargeClass) {
    auto* block = static_cast<unsigned char*>(std::malloc(blockBytes));
    if (block == nullptr) OutOfMemory();
    g_largeRequests.fetch_add(1, std::memory_order_relaxed);
    g_largeBytes.fetch_add(blockBytes, std::memory_order_relaxed);
    return HandOut(block, n, blockClass);
  }
  std::lock_guard<std::mutex> lock(g_locks[blockClass % kLockCount]);
  FreeList& list = g_lists[blockClass];
  if (list.head != nullptr) {
    bool fromChunk = false;
    unsigned char* block = Pop(list, fromChunk);
    return HandOut(block, n, blockClass | (fromChunk ? kChunkFlag : 0));
  }
  auto* chunk = static_cast<unsigned char*>(std::malloc(kChunkBytes));
  if (chunk == nullptr) OutOfMemory();
  g_chunks.fetch_add(1, std::memory_order_relaxed);
  KORVEL_KEEP_FOR_GOOD(chunk);
  KORVEL_POISON(chunk, kChunkBytes);
  const std::size_t blocks = kChunkBytes / blockBytes;
  // The last blocks go on first, so the list hands them out in address order.
  for (std::size_t index = blocks - 1; index >= 1; --index) {
    Push(list, chunk + index * blockBytes, blockBytes, true);
  }
  return HandOut(chunk, n, blockClass | kChunkFlag);
}

void Delete(void* pointer) noexcept {
  if (pointer == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(pointer) - kHeaderBytes;
  std::uint32_t header = 0;
  std::memcpy(&header, block, sizeof(header));
  const bool fromChunk = (header & kChunkFlag) != 0;
  const std::uint32_t blockClass = header & ~kChunkFlag;
  if (blockClass >= kLargeClass) {
    g_largeBytes.fetch_sub(std::uint64_t{blockClass} * 8, std::memory_order_relaxed);
    std::free(block);
    return;
  }
  std::lock_guard<std::mutex> lock(g_locks[blockClass % kLockCount]);
  FreeList& list = g_lists[blockClass];
  if (fromChunk || list.count < ListLimit(blockClass)) {
    Push(list, block, std::size_t{blockClass} * 8, fromChunk);
    return;
  }
  std::free(block);
}

std::size_t FreeBlocks(std::uint32_t blockClass) {
  if (blockClass >= kLargeClass) return 0;
  std::lock_guard<std::mutex> lock(g_locks[blockClass % kLockCount]);
  return g_lists[blockClass].count;
}

std::size_t ChunkCount() {
  return g_chunks.load(std::memory_order_relaxed);
}

std::uint64_t LargeRequests() {
  return g_largeRequests.load(std::memory_order_relaxed);
}

std::uint64_t LargeBytes() {
  return g_largeBytes.load(std::memory_order_relaxed);
}

}  // namespace Alloc
