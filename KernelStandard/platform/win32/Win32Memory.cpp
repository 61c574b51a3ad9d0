// Memory.h on Windows: pages through VirtualAlloc, stacks through
// RtlCaptureStackBackTrace (no allocation) and source lines through DbgHelp.
#include <cstdio>
#include <cstring>

#include "KernelStandard/platform/Memory.h"
#include "KernelStandard/platform/win32/Win32DbgHelp.h"

namespace OS {
namespace {

// The file named by KORVEL_DEBUG_OUTPUT, read into a fixed buffer (no
// allocation); false when it is unset.
bool DebugOutputFile(char* path, DWORD capacity) {
  const DWORD length = ::GetEnvironmentVariableA("KORVEL_DEBUG_OUTPUT", path, capacity);
  return length > 0 && length < capacity;
}

}  // namespace

std::size_t PageSize() {
  static const std::size_t size = [] {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<std::size_t>(info.dwPageSize);
  }();
  return size;
}

void* ReservePages(std::size_t length) {
  return ::VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool ProtectPages(void* address, std::size_t length, bool readOnly) {
  DWORD previous = 0;
  return ::VirtualProtect(address, length, readOnly ? PAGE_READONLY : PAGE_READWRITE, &previous) != FALSE;
}

void ReleasePages(void* address, std::size_t length) {
  // A reservation is released as a whole, from its base.
  (void)length;
  ::VirtualFree(address, 0, MEM_RELEASE);
}

std::uint32_t CurrentThreadNumber() {
  thread_local std::uint32_t number = 0;
  if (number == 0) number = ::GetCurrentThreadId();
  return number;
}

__attribute__((noinline)) int WalkCallStack(void** frames, int capacity, int skip) {
  if (capacity <= 0 || skip < 0) return 0;
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  // The walk starts in this function or in its caller (see StartAtCaller),
  // so one frame more is taken, and the caller's own skip after that.
  constexpr int kMost = 128;
  void* raw[kMost];
  std::uintptr_t walked[kMost];
  const int wanted = capacity + skip + 1 < kMost ? capacity + skip + 1 : kMost;
  const USHORT count = ::RtlCaptureStackBackTrace(0, static_cast<DWORD>(wanted), raw, nullptr);
  for (USHORT i = 0; i < count; ++i) walked[i] = reinterpret_cast<std::uintptr_t>(raw[i]);
  std::size_t stored = Win32DbgHelp::StartAtCaller(walked, count, caller, 1);
  int kept = 0;
  for (std::size_t i = static_cast<std::size_t>(skip); i < stored && kept < capacity; ++i)
    frames[kept++] = reinterpret_cast<void*>(walked[i]);
  return kept;
}

int WalkFaultCallStack(std::uintptr_t faultAddress, void** frames, int capacity) {
  if (capacity <= 0) return 0;
  // The walk passes through the exception dispatcher; it starts where the
  // return addresses meet the faulting function's caller. Without frame
  // data for the fault itself, the faulting instruction comes first.
  void* captured[128];
  const int count = WalkCallStack(captured, 128, 0);
  frames[0] = reinterpret_cast<void*>(faultAddress);
  int stored = 1;
  bool dispatcherPassed = false;
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  for (int i = 0; i < count && stored < capacity; ++i) {
    HMODULE owner = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(captured[i]), &owner);
    if (!dispatcherPassed) {
      dispatcherPassed = owner == ntdll;
      continue;
    }
    if (owner == ntdll) continue;
    frames[stored++] = captured[i];
  }
  return stored;
}

void DescribeCodeSite(const void* address, bool returnAddress, CodeSite& location) {
  std::uintptr_t lookup = reinterpret_cast<std::uintptr_t>(address);
  if (returnAddress && lookup > 0) --lookup;
  char module[MAX_PATH];
  std::lock_guard<std::mutex> lock(Win32DbgHelp::Lock());
  Win32DbgHelp::Describe(lookup, module, sizeof(module), location.symbol, sizeof(location.symbol),
                         location.file, sizeof(location.file), location.line);
  if (location.line < 0) location.line = 0;
}

bool DebuggerTextWanted() {
  char path[MAX_PATH];
  return ::IsDebuggerPresent() || DebugOutputFile(path, MAX_PATH);
}

void WriteDebuggerText(const char* text, std::size_t length) {
  char line[1024];
  const std::size_t shown = length < sizeof(line) - 1 ? length : sizeof(line) - 1;
  std::memcpy(line, text, shown);
  line[shown] = '\0';
  ::OutputDebugStringA(line);
  char path[MAX_PATH];
  if (!DebugOutputFile(path, MAX_PATH)) return;
  HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace OS
