// The platform calls the allocation tracker needs: pages with their
// protection, the calling thread's number, the return addresses of the
// current call stack, the source location of a code address, and text for
// an attached debugger.
//
// These are free functions rather than members of OS::Platform because
// the tracker runs inside the global allocation operators: before any
// static object is constructed and after the last one is destroyed. None
// of them keeps state that a static destructor could take away, and the
// stack and page calls never allocate through operator new (the tracker
// calls them while it records a block).
#pragma once

#include <cstddef>
#include <cstdint>

namespace OS {

// The size of one page of virtual memory.
std::size_t PageSize();
// Reserves and commits `length` bytes (a multiple of the page size),
// readable and writable, on page boundaries; null when the system refuses.
void* ReservePages(std::size_t length);
// Makes whole pages read-only (writes fault) or readable and writable again.
bool ProtectPages(void* address, std::size_t length, bool readOnly);
// Releases pages obtained from ReservePages.
void ReleasePages(void* address, std::size_t length);

// Heap blocks for the allocation tracker's own use. `alignment` 0 takes
// the C library's default alignment; otherwise it is a power of two. A
// block is released by FreeAlignedBlock only.
void* AllocateAlignedBlock(std::size_t size, std::size_t alignment);
void FreeAlignedBlock(void* block);

// The calling thread's system-wide number (never 0 or 1); cheap, cached
// per thread.
std::uint32_t CurrentThreadNumber();

// Stores up to `capacity` return addresses of the calling thread's stack,
// after passing over `skip` of them: with skip 0, frames[0] lies in the
// caller of WalkCallStack, frames[1] in its caller, and so on. Returns
// the count. Never allocates.
int WalkCallStack(void** frames, int capacity, int skip);
// As WalkCallStack, called from a fatal-signal handler: the frames
// start at the faulting instruction (the handler's own frames are left out).
int WalkFaultCallStack(std::uintptr_t faultAddress, void** frames, int capacity);

// Where a code address lies: source file and line (empty and 0 when the
// debugging information is missing) and the function's readable name.
struct CodeSite {
  char file[512];
  int line;
  char symbol[512];
};
// `returnAddress` tells that the address is a return address, which points
// just after the call that is meant. May allocate; not for signal handlers
// of faults inside the heap.
void DescribeCodeSite(const void* address, bool returnAddress, CodeSite& location);

// Text for an attached debugger: appended to the file named by
// KORVEL_DEBUG_OUTPUT when that is set, else dropped. Never allocates.
void WriteDebuggerText(const char* text, std::size_t length);
// Whether debugger text goes anywhere (so costly text can be skipped).
bool DebuggerTextWanted();

}  // namespace OS
