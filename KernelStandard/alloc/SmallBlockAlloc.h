// Alloc::New / Alloc::Delete: the kernel's small-block allocator, for its
// many short 8-bit strings.
//
// A request of n bytes takes a block of c = (n + 11) rounded down to a
// multiple of 8 bytes: a 4-byte header and the data, in steps of 8 (a
// request of 0 takes 8). Its class is c / 8. Classes below 128 come from
// per-class free lists refilled with 32 KiB chunks (chunk memory is never
// returned to the heap); larger blocks come from the heap and are counted.
// The header, 4 bytes before the returned pointer, holds the class (with
// the top bit set for a block cut from a chunk), so blocks are 4-byte
// aligned: meant for text, not for objects.
//
// In the sanitizer build free blocks are poisoned, so AddressSanitizer
// still sees overruns and uses after release inside a chunk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Alloc {

// A block for n bytes; throws std::bad_alloc (after "Alloc::New> out of
// memory!" to the debugger output) when the heap has no memory.
void* New(std::size_t n);
// Releases a block from New; null is ignored.
void Delete(void* block) noexcept;

// Figures, for tests.
constexpr std::uint32_t kChunkBytes = 32768;
constexpr std::uint32_t kLargeClass = 128;
// The block size (header included) a request of n bytes takes; its class
// is that size / 8.
std::size_t BlockBytes(std::size_t n);
// How many blocks a class's free list keeps of blocks that came from the
// heap (blocks cut from chunks always go back to their list).
std::uint32_t ListLimit(std::uint32_t blockClass);
std::size_t FreeBlocks(std::uint32_t blockClass);
std::size_t ChunkCount();
std::uint64_t LargeRequests();
std::uint64_t LargeBytes();

}  // namespace Alloc
