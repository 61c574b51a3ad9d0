// Pages, thread numbers, call stacks and source locations for the
// allocation tracker (see Memory.h). Source locations come from the DWARF
// line tables through elfutils' libdw.
//
// Call stacks are walked with the C++ runtime's unwinder (the one
// exceptions use), which reads the unwind tables, so no frame pointers are
// needed, and which never calls operator new. It interprets those tables
// anew for every frame, about 300 ns a frame, far too slow for every
// allocation of a program. So each walk also learns, per return address,
// how large the frame is: on x86-64 the canonical frame address (CFA) of a
// frame is the stack pointer of its callee's CFA plus a distance that is
// fixed for a given return address unless the function sizes its frame at
// run time, and the return address of the next frame lies at CFA - 8.
// Later walks follow the learned distances (a table lookup and one read
// per frame) and fall back to the unwinder at the first address not
// learned yet. A distance seen to vary, or a frame whose caller's return
// address is not at CFA - 8 (a signal frame), is marked as not to be
// followed; every read stays between the stack pointer and the top of the
// thread's stack.
#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "KernelStandard/platform/Memory.h"

namespace OS {
namespace {

// --- Learned frame sizes ------------------------------------------------------
// One slot per return address: address << 16 | distance in 8-byte units
// (0: empty slot). Two unit values are marks: the frame ends the stack, or
// its size is not to be trusted.
constexpr std::size_t kFrameSlots = std::size_t{1} << 16;
constexpr int kProbes = 16;
constexpr std::uint64_t kUnitsEndOfStack = 0xFFFE;
constexpr std::uint64_t kUnitsUntrusted = 0xFFFF;
constexpr std::uint64_t kUnitsMiss = 0x10000;  // not a stored value
std::atomic<std::uint64_t> g_frameSizes[kFrameSlots];

std::size_t SlotOf(std::uintptr_t address) {
  return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ull) >> 48) & (kFrameSlots - 1);
}

bool Learnable(std::uintptr_t address) {
  return address != 0 && (address >> 48) == 0;
}

std::uint64_t LearnedUnits(std::uintptr_t address) {
  if (!Learnable(address)) return kUnitsMiss;
  std::size_t slot = SlotOf(address);
  for (int probe = 0; probe < kProbes; ++probe, slot = (slot + 1) & (kFrameSlots - 1)) {
    const std::uint64_t value = g_frameSizes[slot].load(std::memory_order_acquire);
    if (value == 0) return kUnitsMiss;
    if ((value >> 16) == address) return value & 0xFFFF;
  }
  return kUnitsMiss;
}

// Stores what a walk saw; a different size than the one stored makes the
// address untrusted for good.
void Learn(std::uintptr_t address, std::uint64_t units) {
  if (!Learnable(address)) return;
  const std::uint64_t wanted = (std::uint64_t{address} << 16) | units;
  std::size_t slot = SlotOf(address);
  for (int probe = 0; probe < kProbes; ++probe, slot = (slot + 1) & (kFrameSlots - 1)) {
    std::uint64_t value = g_frameSizes[slot].load(std::memory_order_acquire);
    if (value == 0 && g_frameSizes[slot].compare_exchange_strong(value, wanted)) return;
    if ((value >> 16) != address) continue;
    if ((value & 0xFFFF) != units) {
      g_frameSizes[slot].store((std::uint64_t{address} << 16) | kUnitsUntrusted, std::memory_order_release);
    }
    return;
  }
}

// The calling thread's stack: its lowest and highest address (both 0 when
// unknown).
struct StackBounds {
  std::uintptr_t lowest = 0;
  std::uintptr_t top = 0;
};

const StackBounds& ThreadStack() {
  static thread_local StackBounds bounds;
  static thread_local bool known = false;
  if (!known) {
    known = true;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* lowest = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attributes, &lowest, &size) == 0) {
        bounds.lowest = reinterpret_cast<std::uintptr_t>(lowest);
        bounds.top = bounds.lowest + size;
      }
      pthread_attr_destroy(&attributes);
    }
  }
  return bounds;
}

// --- The unwinder's walk ------------------------------------------------------
struct StackWalk {
  void** frames;
  int capacity;
  int count;
  int skip;                     // frames still to pass over
  std::uintptr_t faultAddress;  // 0: none; else start at this frame
  bool learn;                   // teach the frame sizes on the way (and walk to the end)
  // The previous frame's stack pointer and return address, whose frame
  // size is learned at the next frame.
  std::uintptr_t previousCfa;
  std::uintptr_t pendingAddress;
  bool reachedEnd;  // a frame without a return address ended the walk
};

// The unwinder's CFA of a frame is its stack pointer just after the call
// it is in returns: the CFA of the frame it called. So the size of the
// previous frame (its stack pointer up to this one's) is learned here, once
// this frame's return address is seen just below that stack pointer.
void LearnStep(StackWalk& walk, _Unwind_Context* context, std::uintptr_t ip, bool exactInstruction) {
  const std::uintptr_t stackPointer = _Unwind_GetCFA(context);
  if (walk.pendingAddress != 0) {
    std::uintptr_t stored = 0;
    std::memcpy(&stored, reinterpret_cast<const void*>(stackPointer - 8), sizeof(stored));
    const std::uintptr_t size = stackPointer - walk.previousCfa;
    const bool regular = !exactInstruction && stored == ip && stackPointer > walk.previousCfa &&
                         size % 8 == 0 && size / 8 < kUnitsEndOfStack;
    Learn(walk.pendingAddress, regular ? size / 8 : kUnitsUntrusted);
  }
  // An interrupted instruction (the frame below a signal frame) is no
  // return address: nothing to learn for it.
  walk.pendingAddress = exactInstruction ? 0 : ip;
  walk.previousCfa = stackPointer;
}

_Unwind_Reason_Code RecordFrame(_Unwind_Context* context, void* argument) {
  StackWalk& walk = *static_cast<StackWalk*>(argument);
  int beforeInstruction = 0;
  const std::uintptr_t ip = _Unwind_GetIPInfo(context, &beforeInstruction);
  if (ip == 0) {
    walk.reachedEnd = true;
    return _URC_END_OF_STACK;
  }
  if (walk.learn) LearnStep(walk, context, ip, beforeInstruction != 0);
  if (walk.skip > 0) {
    --walk.skip;
    return _URC_NO_REASON;
  }
  if (walk.faultAddress != 0) {
    if (ip != walk.faultAddress) return _URC_NO_REASON;
    walk.faultAddress = 0;
  }
  if (walk.count < walk.capacity) {
    walk.frames[walk.count++] = reinterpret_cast<void*>(ip);
  } else if (!walk.learn) {
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

// The process's modules for libdw, reported once; the handle lives as long
// as the process (nothing frees it at exit, so late reports still work).
Dwfl* ProcessModules() {
  static Dwfl* modules = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    static char* debugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                             &debugInfoPath};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl == nullptr) return;
    if (dwfl_linux_proc_report(dwfl, ::getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
      dwfl_end(dwfl);
      return;
    }
    modules = dwfl;
  });
  return modules;
}

void CopyText(char* out, std::size_t capacity, const char* text) {
  std::snprintf(out, capacity, "%s", text != nullptr ? text : "");
}

// The source file's full path: a relative name from the line table joined
// to the compilation folder, with "." and "folder/.." steps taken out, so
// the path opens from anywhere.
void JoinSourcePath(const char* folder, const char* file, char* out, std::size_t capacity) {
  char joined[1024];
  std::snprintf(joined, sizeof(joined), "%s%s%s", folder != nullptr ? folder : "",
                folder != nullptr ? "/" : "", file);
  std::size_t used = 0;
  if (joined[0] == '/') out[used++] = '/';
  const std::size_t root = used;  // ".." never climbs above this
  const char* part = joined;
  for (;;) {
    const char* end = std::strchr(part, '/');
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - part) : std::strlen(part);
    const bool dot = length == 1 && part[0] == '.';
    const bool up = length == 2 && part[0] == '.' && part[1] == '.';
    std::size_t last = used;  // where the last kept component starts
    while (last > root && out[last - 1] != '/') --last;
    const bool lastIsUp = used - last == 2 && out[last] == '.' && out[last + 1] == '.';
    if (up && used > root && !lastIsUp) {
      used = last > root ? last - 1 : root;
    } else if (length > 0 && !dot && !(up && root > 0 && used == root)) {
      if (used + length + 2 >= capacity) break;
      if (used > root) out[used++] = '/';
      std::memcpy(out + used, part, length);
      used += length;
    }
    if (end == nullptr) break;
    part = end + 1;
  }
  out[used] = '\0';
}

// Code inlined into a function (a container's or a smart pointer's, say)
// has the inlined source in the line table. The line in the function the
// address belongs to is the call site of the outermost inlined scope:
// that is what a report of the address should name.
bool OutermostInlineCallSite(Dwfl_Module* module, Dwarf_Addr pc, CodeSite& location) {
  Dwarf_Addr bias = 0;
  Dwarf_Die* unit = dwfl_module_addrdie(module, pc, &bias);
  if (unit == nullptr) return false;
  Dwarf_Die* scopes = nullptr;
  const int count = dwarf_getscopes(unit, pc - bias, &scopes);
  if (count <= 0) return false;
  int outermost = -1;
  for (int index = 0; index < count; ++index) {
    if (dwarf_tag(&scopes[index]) == DW_TAG_inlined_subroutine) outermost = index;
  }
  bool found = false;
  Dwarf_Attribute attribute;
  Dwarf_Word fileIndex = 0;
  Dwarf_Word line = 0;
  Dwarf_Files* files = nullptr;
  std::size_t fileCount = 0;
  if (outermost >= 0 &&
      dwarf_formudata(dwarf_attr(&scopes[outermost], DW_AT_call_file, &attribute), &fileIndex) == 0 &&
      dwarf_formudata(dwarf_attr(&scopes[outermost], DW_AT_call_line, &attribute), &line) == 0 &&
      dwarf_getsrcfiles(unit, &files, &fileCount) == 0 && fileIndex < fileCount) {
    if (const char* name = dwarf_filesrc(files, fileIndex, nullptr, nullptr)) {
      const char* folder = dwarf_formstring(dwarf_attr(unit, DW_AT_comp_dir, &attribute));
      JoinSourcePath(name[0] == '/' ? nullptr : folder, name, location.file, sizeof(location.file));
      location.line = static_cast<int>(line);
      found = true;
    }
  }
  std::free(scopes);
  return found;
}

}  // namespace

std::size_t PageSize() {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

void* ReservePages(std::size_t length) {
  void* pages = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

bool ProtectPages(void* address, std::size_t length, bool readOnly) {
  return ::mprotect(address, length, readOnly ? PROT_READ : PROT_READ | PROT_WRITE) == 0;
}

void ReleasePages(void* address, std::size_t length) {
  ::munmap(address, length);
}

std::uint32_t CurrentThreadNumber() {
  static thread_local std::uint32_t number = 0;
  if (number == 0) number = static_cast<std::uint32_t>(::gettid());
  return number;
}

// Not inlined, and with a frame pointer (__builtin_frame_address), so that
// its own CFA is known: the learned sizes start from it.
__attribute__((noinline)) int WalkCallStack(void** frames, int capacity, int skip) {
  const StackBounds& stack = ThreadStack();
  std::uintptr_t cfa = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 16;
  // Only on the thread's own stack (not on a signal stack, say).
  if (cfa > stack.lowest && cfa < stack.top) {
    const std::uintptr_t top = stack.top;
    std::uintptr_t ip = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    int count = 0;
    int toSkip = skip;
    for (int frame = 0; frame < 4096; ++frame) {
      // `ip` is the return address of a frame whose stack pointer is `cfa`.
      if (toSkip > 0) {
        --toSkip;
      } else if (count < capacity) {
        frames[count++] = reinterpret_cast<void*>(ip);
      }
      if (count == capacity && toSkip == 0) return count;
      const std::uint64_t units = LearnedUnits(ip);
      if (units == kUnitsEndOfStack) return count;
      if (units >= kUnitsUntrusted) break;  // not learned, or not to be followed
      const std::uintptr_t next = cfa + units * 8;
      if (next <= cfa || next > top) break;
      std::memcpy(&ip, reinterpret_cast<const void*>(next - 8), sizeof(ip));
      cfa = next;
    }
  }
  StackWalk walk{frames, capacity, 0, 1 + skip, 0, true, 0, 0, false};
  const _Unwind_Reason_Code result = _Unwind_Backtrace(RecordFrame, &walk);
  if ((result == _URC_END_OF_STACK || walk.reachedEnd) && walk.pendingAddress != 0) {
    Learn(walk.pendingAddress, kUnitsEndOfStack);
  }
  return walk.count;
}

int WalkFaultCallStack(std::uintptr_t faultAddress, void** frames, int capacity) {
  StackWalk walk{frames, capacity, 0, 0, faultAddress, false, 0, 0, false};
  _Unwind_Backtrace(RecordFrame, &walk);
  if (walk.count == 0 && faultAddress != 0) {
    // The faulting frame was not met (no unwind tables across the signal
    // frame): the whole stack, handler included, is better than nothing.
    walk = StackWalk{frames, capacity, 0, 0, 0, false, 0, 0, false};
    _Unwind_Backtrace(RecordFrame, &walk);
  }
  return walk.count;
}

void DescribeCodeSite(const void* address, bool returnAddress, CodeSite& location) {
  location.file[0] = '\0';
  location.line = 0;
  CopyText(location.symbol, sizeof(location.symbol), "<unknown>");
  Dwfl* modules = ProcessModules();
  if (modules == nullptr || address == nullptr) return;
  // A return address points after the call; the call itself is one byte
  // before it, which keeps the line right when the call ends a block.
  const Dwarf_Addr pc = reinterpret_cast<Dwarf_Addr>(address) - (returnAddress ? 1 : 0);
  Dwfl_Module* module = dwfl_addrmodule(modules, pc);
  if (module == nullptr) return;
  if (const char* name = dwfl_module_addrname(module, pc)) {
    int status = -1;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    CopyText(location.symbol, sizeof(location.symbol),
             status == 0 && demangled != nullptr ? demangled : name);
    std::free(demangled);
  }
  if (OutermostInlineCallSite(module, pc, location)) return;
  if (Dwfl_Line* line = dwfl_module_getsrc(module, pc)) {
    int lineNumber = 0;
    const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
    if (file != nullptr) {
      JoinSourcePath(file[0] == '/' ? nullptr : dwfl_line_comp_dir(line), file, location.file,
                     sizeof(location.file));
      location.line = lineNumber;
    }
  }
}

bool DebuggerTextWanted() {
  const char* target = std::getenv("KORVEL_DEBUG_OUTPUT");
  return target != nullptr && *target != '\0';
}

void WriteDebuggerText(const char* text, std::size_t length) {
  const char* target = std::getenv("KORVEL_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0') return;
  const int fd = ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  while (length > 0) {
    const ssize_t written = ::write(fd, text, length);
    if (written <= 0) break;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
  ::close(fd);
}

}  // namespace OS
