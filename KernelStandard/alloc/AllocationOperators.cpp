// The global allocation and release operators of the programs, all of them
// through the process-wide allocation tracker, and that tracker's start and
// leak report.
//
// This file is linked into the programs (and the tracker's own tests) as an
// object library, korvel_alloc_operators. The sanitizer build leaves it out:
// AddressSanitizer replaces these operators itself to find overruns, uses
// after release and mismatched releases, and a second replacement would
// take that away from it (and would record every block twice over). There
// the programs simply run without the tracker.
//
// The tracker is built in static storage by the first static initialiser of
// the program (priority 101) and never destroyed; blocks allocated before it
// (by the shared libraries' own initialisers) come from the heap unrecorded.
// The leak report runs from the destructor of an object built by that same
// initialiser, so it is the last static destructor of the program: every
// other static object has released its blocks by then.
//
// Environment, read once at start:
//   KORVEL_ALLOC_TRACKING=off     the tracker passes every block through
//   KORVEL_ALLOC_GUARD=behind     a read-only page right behind each block
//   KORVEL_ALLOC_GUARD=front      a read-only page right in front of it
// With a guard mode the tracker installs a fatal-signal handler that writes
// the faulting call stack (CheckBounds); the crash handlers installed later
// at start-up replace it with the full crash report.
#include <cstdlib>
#include <cstring>
#include <new>

#include "KernelStandard/alloc/AllocationTracker.h"

namespace {

using Vek::AllocationTracker;

alignas(AllocationTracker) unsigned char g_trackerStorage[sizeof(AllocationTracker)];
AllocationTracker* g_tracker = nullptr;  // null until the tracker exists

void OnGuardFault(const OS::FatalFault& fault) {
  if (g_tracker != nullptr) g_tracker->CheckBounds(fault);
}

bool EnvironmentIs(const char* name, const char* value) {
  const char* text = std::getenv(name);
  return text != nullptr && std::strcmp(text, value) == 0;
}

struct TrackerLifetime {
  TrackerLifetime() {
    auto* tracker = new (g_trackerStorage) AllocationTracker(!EnvironmentIs("KORVEL_ALLOC_TRACKING", "off"));
    unsigned modes = 0;
    if (EnvironmentIs("KORVEL_ALLOC_GUARD", "behind")) modes = AllocationTracker::MODE_GUARD_PAGES;
    if (EnvironmentIs("KORVEL_ALLOC_GUARD", "front")) {
      modes = AllocationTracker::MODE_GUARD_PAGES | AllocationTracker::MODE_GUARD_IN_FRONT;
    }
    tracker->SetModes(modes);
    AllocationTracker::SetGlobal(tracker);
    g_tracker = tracker;
    if (modes != 0) OS::Native().InstallFatalSignalHandler(OnGuardFault);
  }
  ~TrackerLifetime() {
    if (g_tracker != nullptr) g_tracker->ReportLeaksAtExit();
  }
};

__attribute__((init_priority(101))) TrackerLifetime g_lifetime;

// Operators call the tracker directly (one frame between the caller and
// the tracker, which the recorded stack leaves out); the empty asm after
// each call keeps the compiler from turning it into a jump, which would
// drop the operator's frame and with it the caller's.
inline void KeepFrame(void* block) {
  asm volatile("" : : "r"(block) : "memory");
}

[[gnu::always_inline]] inline void* Obtain(std::size_t size, std::size_t alignment) {
  return g_tracker != nullptr ? g_tracker->Allocate(size, alignment)
                              : AllocationTracker::HeapAllocate(size, alignment);
}

// The standard loop of a throwing operator new: the new-handler gets its
// chance to free memory before std::bad_alloc is thrown.
[[gnu::noinline]] bool RetryAfterHandler() {
  const std::new_handler handler = std::get_new_handler();
  if (handler == nullptr) return false;
  handler();
  return true;
}

}  // namespace

#define KORVEL_TRACKED_NEW(size, alignment)           \
  for (;;) {                                          \
    void* block = Obtain(size, alignment);            \
    if (block != nullptr) {                           \
      KeepFrame(block);                               \
      return block;                                   \
    }                                                 \
    if (!RetryAfterHandler()) throw std::bad_alloc(); \
  }

#define KORVEL_TRACKED_NEW_NOTHROW(size, alignment) \
  try {                                             \
    KORVEL_TRACKED_NEW(size, alignment)             \
  } catch (const std::bad_alloc&) {                 \
    return nullptr;                                 \
  }

#define KORVEL_TRACKED_DELETE(block)    \
  if (g_tracker != nullptr) {           \
    g_tracker->Free(block);             \
  } else {                              \
    AllocationTracker::HeapFree(block); \
  }                                     \
  KeepFrame(block);

void* operator new(std::size_t size) {
  KORVEL_TRACKED_NEW(size, 0)
}
void* operator new[](std::size_t size) {
  KORVEL_TRACKED_NEW(size, 0)
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_NEW_NOTHROW(size, 0)
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_NEW_NOTHROW(size, 0)
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  KORVEL_TRACKED_NEW(size, static_cast<std::size_t>(alignment))
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  KORVEL_TRACKED_NEW(size, static_cast<std::size_t>(alignment))
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_NEW_NOTHROW(size, static_cast<std::size_t>(alignment))
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_NEW_NOTHROW(size, static_cast<std::size_t>(alignment))
}

void operator delete(void* block) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete(void* block, std::size_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block, std::size_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete(void* block, std::align_val_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block, std::align_val_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  KORVEL_TRACKED_DELETE(block)
}
