// Call stacks and their symbols: the return addresses come from the
// unwinder of the C library (frame tables, so code built without frame
// pointers unwinds too); names, source files and lines come from the
// modules' DWARF information through elfutils' libdwfl, which reads the
// process's own maps and the separate debug files where they are
// installed. C++ names are shown demangled.
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

void CopyText(char* out, std::size_t capacity, const char* text) {
  std::snprintf(out, capacity, "%s", text != nullptr ? text : "");
}

class DwflSymbolLookup : public SymbolLookup {
 public:
  DwflSymbolLookup() {
    m_callbacks.find_elf = dwfl_linux_proc_find_elf;
    m_callbacks.find_debuginfo = dwfl_standard_find_debuginfo;
    m_callbacks.debuginfo_path = &m_debugPath;
    m_session = dwfl_begin(&m_callbacks);
    if (m_session == nullptr) return;
    if (dwfl_linux_proc_report(m_session, ::getpid()) != 0 ||
        dwfl_report_end(m_session, nullptr, nullptr) != 0) {
      dwfl_end(m_session);
      m_session = nullptr;
    }
  }
  ~DwflSymbolLookup() override {
    if (m_session != nullptr) dwfl_end(m_session);
  }
  bool Ready() const { return m_session != nullptr; }

  bool Describe(std::uintptr_t address, bool returnAddress, CodeLocation& location) override {
    location = CodeLocation{};
    const Dwarf_Addr lookup = returnAddress && address > 0 ? address - 1 : address;
    Dwfl_Module* module = dwfl_addrmodule(m_session, lookup);
    if (module == nullptr) return false;
    const char* mainFile = nullptr;
    const char* name =
        dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &mainFile, nullptr);
    CopyText(location.module, sizeof(location.module), mainFile != nullptr ? mainFile : name);
    if (const char* symbol = dwfl_module_addrname(module, lookup)) {
      int status = 0;
      char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
      CopyText(location.symbol, sizeof(location.symbol),
               status == 0 && demangled != nullptr ? demangled : symbol);
      std::free(demangled);
    }
    if (Dwfl_Line* line = dwfl_module_getsrc(module, lookup)) {
      int lineNumber = -1;
      const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
      if (file != nullptr) {
        CopyText(location.file, sizeof(location.file), file);
        location.line = lineNumber;
      }
    }
    return true;
  }

 private:
  Dwfl_Callbacks m_callbacks{};
  char* m_debugPath = nullptr;
  Dwfl* m_session = nullptr;
};

}  // namespace

__attribute__((noinline)) std::size_t PosixPlatform::CaptureCallStack(std::uintptr_t* frames,
                                                                      std::size_t capacity) {
  constexpr int kLimit = 128;
  void* addresses[kLimit + 1];
  // One more than asked for: this function's own frame is left out.
  const int wanted = static_cast<int>(capacity < kLimit ? capacity : kLimit) + 1;
  const int count = ::backtrace(addresses, wanted);
  std::size_t stored = 0;
  for (int i = 1; i < count; ++i) frames[stored++] = reinterpret_cast<std::uintptr_t>(addresses[i]);
  return stored;
}

std::unique_ptr<SymbolLookup> PosixPlatform::OpenSymbolLookup() {
  auto lookup = std::make_unique<DwflSymbolLookup>();
  if (!lookup->Ready()) return nullptr;
  return lookup;
}

}  // namespace OS
