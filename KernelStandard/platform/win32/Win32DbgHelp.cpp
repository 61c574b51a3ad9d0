#include "KernelStandard/platform/win32/Win32DbgHelp.h"

#include <cstdio>

namespace OS::Win32DbgHelp {
namespace {

bool g_initialised = false;
bool g_ready = false;

void CopyText(char* out, std::size_t capacity, const char* text) {
  if (capacity == 0) return;
  std::snprintf(out, capacity, "%s", text != nullptr ? text : "");
}

}  // namespace

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

bool EnsureSymbols() {
  if (!g_initialised) {
    g_initialised = true;
    ::SymSetOptions(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
    // The modules' own folders are searched for their symbols.
    g_ready = ::SymInitialize(::GetCurrentProcess(), nullptr, TRUE) != FALSE;
  }
  return g_ready;
}

std::size_t Walk(CONTEXT context, std::uintptr_t* frames, std::size_t capacity, std::size_t skip) {
  if (!EnsureSymbols()) return 0;
  STACKFRAME64 frame{};
#if defined(_M_IX86) || defined(__i386__)
  const DWORD machine = IMAGE_FILE_MACHINE_I386;
  frame.AddrPC.Offset = context.Eip;
  frame.AddrFrame.Offset = context.Ebp;
  frame.AddrStack.Offset = context.Esp;
#else
  const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
  frame.AddrPC.Offset = context.Rip;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrStack.Offset = context.Rsp;
#endif
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;
  std::size_t stored = 0;
  std::size_t seen = 0;
  HANDLE process = ::GetCurrentProcess();
  HANDLE thread = ::GetCurrentThread();
  while (stored < capacity && ::StackWalk64(machine, process, thread, &frame, &context, nullptr,
                                            SymFunctionTableAccess64, SymGetModuleBase64, nullptr)) {
    if (frame.AddrPC.Offset == 0) break;
    if (seen++ < skip) continue;
    frames[stored++] = static_cast<std::uintptr_t>(frame.AddrPC.Offset);
  }
  return stored;
}

std::size_t StartAtCaller(std::uintptr_t* frames, std::size_t count, std::uintptr_t anchor,
                          std::size_t fallback) {
  constexpr std::size_t kSearched = 3;
  std::size_t first = fallback;
  for (std::size_t i = 0; i < count && i < kSearched; ++i) {
    if (frames[i] == anchor) {
      first = i;
      break;
    }
  }
  if (first >= count) return 0;
  for (std::size_t i = first; i < count; ++i) frames[i - first] = frames[i];
  return count - first;
}

void Describe(std::uintptr_t address, char* module, std::size_t moduleCapacity, char* symbol,
              std::size_t symbolCapacity, char* file, std::size_t fileCapacity, int& line) {
  CopyText(module, moduleCapacity, "");
  CopyText(symbol, symbolCapacity, "");
  CopyText(file, fileCapacity, "");
  line = -1;
  HMODULE owner = nullptr;
  if (::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(address), &owner)) {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(owner, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) CopyText(module, moduleCapacity, path);
  }
  if (!EnsureSymbols()) return;
  alignas(SYMBOL_INFO) char storage[sizeof(SYMBOL_INFO) + 1024];
  auto* info = reinterpret_cast<SYMBOL_INFO*>(storage);
  info->SizeOfStruct = sizeof(SYMBOL_INFO);
  info->MaxNameLen = 1024;
  DWORD64 displacement = 0;
  if (::SymFromAddr(::GetCurrentProcess(), address, &displacement, info))
    CopyText(symbol, symbolCapacity, info->Name);
  IMAGEHLP_LINE64 source{};
  source.SizeOfStruct = sizeof(source);
  DWORD lineDisplacement = 0;
  if (::SymGetLineFromAddr64(::GetCurrentProcess(), address, &lineDisplacement, &source)) {
    CopyText(file, fileCapacity, source.FileName);
    line = static_cast<int>(source.LineNumber);
  }
}

}  // namespace OS::Win32DbgHelp
