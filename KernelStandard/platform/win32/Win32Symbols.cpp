// Call stacks and their symbols through DbgHelp: StackWalk64 from the
// caller's own context, SymFromAddr and SymGetLineFromAddr64 for names and
// lines.
#include "KernelStandard/platform/win32/Win32DbgHelp.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

class DbgHelpSymbolLookup final : public SymbolLookup {
 public:
  bool Describe(std::uintptr_t address, bool returnAddress, CodeLocation& location) override {
    location = CodeLocation{};
    const std::uintptr_t lookup = returnAddress && address > 0 ? address - 1 : address;
    std::lock_guard<std::mutex> lock(Win32DbgHelp::Lock());
    Win32DbgHelp::Describe(lookup, location.module, sizeof(location.module), location.symbol,
                           sizeof(location.symbol), location.file, sizeof(location.file), location.line);
    return location.module[0] != '\0';
  }
};

}  // namespace

__attribute__((noinline)) std::size_t Win32Platform::CaptureCallStack(std::uintptr_t* frames,
                                                                      std::size_t capacity) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  std::lock_guard<std::mutex> lock(Win32DbgHelp::Lock());
  // One frame more than asked: the walk may begin in this function itself,
  // which is left out.
  std::uintptr_t walked[129];
  const std::size_t wanted = capacity < 128 ? capacity + 1 : 129;
  std::size_t stored = Win32DbgHelp::Walk(context, walked, wanted, 0);
  if (stored == 0) {
    // No symbol handler: the frame-pointer chain still gives the addresses.
    void* addresses[129];
    const USHORT count = ::RtlCaptureStackBackTrace(0, static_cast<DWORD>(wanted), addresses, nullptr);
    for (USHORT i = 0; i < count; ++i) walked[stored++] = reinterpret_cast<std::uintptr_t>(addresses[i]);
  }
  stored = Win32DbgHelp::StartAtCaller(walked, stored, caller, 1);
  if (stored > capacity) stored = capacity;
  for (std::size_t i = 0; i < stored; ++i) frames[i] = walked[i];
  return stored;
}

std::unique_ptr<SymbolLookup> Win32Platform::OpenSymbolLookup() {
  std::lock_guard<std::mutex> lock(Win32DbgHelp::Lock());
  if (!Win32DbgHelp::EnsureSymbols()) return nullptr;
  ::SymRefreshModuleList(::GetCurrentProcess());
  return std::make_unique<DbgHelpSymbolLookup>();
}

}  // namespace OS
