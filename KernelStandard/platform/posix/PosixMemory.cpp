// Pages, thread numbers, call stacks and source locations for the
// allocation tracker (see Memory.h). Stacks are walked with the C++
// runtime's unwinder (the one exceptions use), which reads the unwind
// tables and so needs no frame pointers and never calls operator new.
// Source locations come from the DWARF line tables through elfutils' libdw.
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unwind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "KernelStandard/platform/Memory.h"

namespace OS {
namespace {

struct StackWalk {
  void** frames;
  int capacity;
  int count;
  int skip;                     // frames still to pass over
  std::uintptr_t faultAddress;  // 0: none; else start at this frame
};

_Unwind_Reason_Code RecordFrame(_Unwind_Context* context, void* argument) {
  StackWalk& walk = *static_cast<StackWalk*>(argument);
  int beforeInstruction = 0;
  const std::uintptr_t ip = _Unwind_GetIPInfo(context, &beforeInstruction);
  if (ip == 0) return _URC_END_OF_STACK;
  if (walk.skip > 0) {
    --walk.skip;
    return _URC_NO_REASON;
  }
  if (walk.faultAddress != 0) {
    if (ip != walk.faultAddress) return _URC_NO_REASON;
    walk.faultAddress = 0;
  }
  if (walk.count >= walk.capacity) return _URC_END_OF_STACK;
  walk.frames[walk.count++] = reinterpret_cast<void*>(ip);
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

// Not inlined, so that frames[0] is always this function's caller.
__attribute__((noinline)) int WalkCallStack(void** frames, int capacity, int skip) {
  StackWalk walk{frames, capacity, 0, 1 + skip, 0};
  _Unwind_Backtrace(RecordFrame, &walk);
  return walk.count;
}

int WalkFaultCallStack(std::uintptr_t faultAddress, void** frames, int capacity) {
  StackWalk walk{frames, capacity, 0, 0, faultAddress};
  _Unwind_Backtrace(RecordFrame, &walk);
  if (walk.count == 0 && faultAddress != 0) {
    // The faulting frame was not met (no unwind tables across the signal
    // frame): the whole stack, handler included, is better than nothing.
    walk = StackWalk{frames, capacity, 0, 0, 0};
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
