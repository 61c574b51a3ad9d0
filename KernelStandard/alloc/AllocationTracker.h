// Vek::AllocationTracker: the debug allocation tracker behind the global
// allocation operators (AllocationOperators.cpp).
//
// Every live block is recorded with its size, the allocating thread and up
// to 18 return addresses of the allocating call stack, starting at the
// function that called the allocation operator. At process exit the blocks
// never released are reported to the debugger output (OS::WriteDebuggerText:
// the file named by KORVEL_DEBUG_OUTPUT), grouped by identical size, thread
// and stack, with the source file and line of the allocation site and one
// "Called from" line per further frame, then "A total of N leaks at M
// locations." Releasing a block the tracker never handed out (one allocated
// before it existed) is reported as an unknown block and released anyway.
//
// The owner value says who is inside the tracker: kNotConstructed before the
// tracker exists (nothing is recorded), 0 when nobody is, otherwise the
// number of the thread inside. Allocations the tracker itself makes while it
// records or reports (symbol look-up, report text) come from that thread and
// go straight to the heap, unrecorded, instead of deadlocking. Stack capture
// uses the unwinder, which never calls operator new, so it runs before the
// lock is taken and threads do not queue behind each other's stack walks.
//
// Guard pages (off unless switched on): each block gets whole pages of its
// own with one read-only page right behind the block (an overrun faults) or
// right in front of it (an underrun faults). Blocks keep the default new
// alignment, so a block behind which a guard page sits ends up to 15 bytes
// before it when its size is not a multiple of 16. When the system refuses
// the pages, the block comes from the heap instead.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "KernelStandard/PrintfFormat.h"
#include "KernelStandard/platform/Platform.h"

namespace Vek {

class AllocationTracker {
 public:
  static constexpr int kMaxFrames = 18;
  static constexpr std::uint32_t kNotConstructed = 1;

  enum Mode : unsigned {
    MODE_GUARD_PAGES = 1,           // blocks placed against a read-only page
    MODE_GUARD_IN_FRONT = 2,        // the guard page precedes the block (else follows it)
    MODE_KEEP_RUN_TIME = 4,         // also record blocks in the run-time map
    MODE_RUN_TIME_REMOVE_FREE = 8,  // a release also removes the run-time record
  };

  // Receives every report line (besides the debugger output).
  using OutputCallback = void (*)(const char* line, void* context);

  // Tracking on: the owner goes from kNotConstructed to 0. A tracker made
  // with `enabled` false stays a pass-through to the heap.
  explicit AllocationTracker(bool enabled = true);
  // Frees the tables (not the blocks). The process-wide tracker is never
  // destroyed: blocks are released through it until the process is gone.
  ~AllocationTracker();
  AllocationTracker(const AllocationTracker&) = delete;
  AllocationTracker& operator=(const AllocationTracker&) = delete;

  // A block of `size` bytes aligned to `alignment` (0: the default new
  // alignment); null when the heap has no memory. The recorded stack starts
  // at the caller of Allocate's caller (the allocation operator's caller).
  void* Allocate(std::size_t size, std::size_t alignment = 0);
  // Releases a block; null is ignored. The unknown-block line names the
  // caller of Free's caller.
  void Free(void* block);

  // Writes the leak report (and the run-time listing when that map holds
  // records). The process-wide tracker runs it once at exit. Skipped when
  // neither a callback nor the debugger output takes the lines.
  void ReportLeaks();
  // The report at the program's exit. Releases after it come from the
  // shared libraries' own finalisers, which run after the program's and
  // free what their initialisers made before the tracker existed: they are
  // counted as unknown but no longer listed, so the report ends the output.
  void ReportLeaksAtExit();

  // From a fatal-signal handler: the faulting thread's call stack (at most
  // 1,024 frames) with source lines and symbols, under the title "Memory
  // bound was overwritten", to the debugger output and standard error.
  // The fault then goes on to its default end.
  void CheckBounds(const OS::FatalFault& fault);

  void SetModes(unsigned modes) { m_modes.store(modes, std::memory_order_relaxed); }
  unsigned Modes() const { return m_modes.load(std::memory_order_relaxed); }
  // Sets the callback for report lines. The callback runs inside the
  // tracker: what it allocates is not recorded, and it must not call the
  // inspection functions below.
  void SetOutputCallback(OutputCallback callback, void* context);

  // Inspection, for tests and the benchmark.
  std::size_t LiveBlocks();
  std::size_t RunTimeBlocks();
  bool IsTracked(const void* block);
  std::size_t UnknownFrees();
  std::uint32_t Owner() const { return m_owner.load(); }

  // The process-wide tracker behind the global operators; null in a build
  // without them (the sanitizer build).
  static AllocationTracker* Global();
  static void SetGlobal(AllocationTracker* tracker);

  // The heap itself, which the tracker and the operators fall back to.
  static void* HeapAllocate(std::size_t size, std::size_t alignment);
  static void HeapFree(void* block) noexcept;

  struct Record;
  struct Tables;

 private:
  enum class Origin : std::uint8_t { Heap, GuardBehind, GuardInFront };
  void* ObtainBlock(std::size_t size, std::size_t alignment, Origin& origin);
  void ReleaseBlock(void* block, std::size_t size, Origin origin);
  bool Heard() const;  // a callback or the debugger output takes the lines
  void Emit(const char* format, ...) KORVEL_PRINTF_FORMAT(2, 3);
  void ReportUnknownFree(void* block, void* const* frames, int count);
  void ListRecords(bool runTime);
  bool EnterOwned(std::uint32_t self);
  void LeaveOwned();

  std::atomic<std::uint32_t> m_owner{kNotConstructed};
  std::atomic<unsigned> m_modes{0};
  std::size_t m_pageSize = 4096;
  std::mutex m_lock;  // the tracker's critical section
  Tables* m_tables = nullptr;
  OutputCallback m_callback = nullptr;
  void* m_callbackContext = nullptr;
  std::atomic<std::size_t> m_unknownFrees{0};
  std::atomic<bool> m_exitReportDone{false};
};

}  // namespace Vek
