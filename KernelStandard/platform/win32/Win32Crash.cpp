// Fatal faults on Windows: the unhandled-exception filter sees every
// thread's structured exceptions, and abort() arrives as SIGABRT from the C
// runtime. The handler gets the fault with the EXCEPTION_POINTERS as its
// context, so the minidump carries the exception stream. A stack overflow
// is handed to a fresh thread, whose stack is whole. Dumps are written by
// DbgHelp's MiniDumpWriteDump.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "KernelStandard/platform/win32/Win32CommandLine.h"
#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

// The C runtime's code for abort().
constexpr DWORD kAbortCode = 0x40000015;  // STATUS_FATAL_APP_EXIT
constexpr int kHandlerThreads = 32;

std::atomic<Platform::FatalSignalHandler> g_handler{nullptr};
std::atomic<DWORD> g_inHandler[kHandlerThreads];
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

// Notes that the thread entered the handler; false when it was in it already.
bool EnterHandler(DWORD thread) {
  for (std::atomic<DWORD>& slot : g_inHandler)
    if (slot.load() == thread) return false;
  for (std::atomic<DWORD>& slot : g_inHandler) {
    DWORD expected = 0;
    if (slot.compare_exchange_strong(expected, thread)) return true;
  }
  return true;  // the table is full: the thread goes on without the guard
}

FatalFault DescribeException(EXCEPTION_POINTERS* pointers, DWORD thread) {
  FatalFault fault;
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  fault.signalNumber = static_cast<int>(record->ExceptionCode);
  fault.signalCode = 0;
  fault.threadId = thread;
  fault.context = pointers;
  fault.address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
  if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
       record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
      record->NumberParameters >= 2) {
    fault.writeAccess = record->ExceptionInformation[0] == 1;
    fault.address = static_cast<std::uintptr_t>(record->ExceptionInformation[1]);
  }
  const CONTEXT* context = pointers->ContextRecord;
#if defined(__i386__)
  fault.instructionPointer = context->Eip;
  fault.stackPointer = context->Esp;
#else
  fault.instructionPointer = context->Rip;
  fault.stackPointer = context->Rsp;
#endif
  fault.codeSegment = context->SegCs;
  return fault;
}

struct OverflowHandover {
  FatalFault fault;
};

DWORD WINAPI RunHandlerElsewhere(void* raw) {
  const FatalFault& fault = static_cast<OverflowHandover*>(raw)->fault;
  if (Platform::FatalSignalHandler handler = g_handler.load()) handler(fault);
  return 0;
}

[[noreturn]] void EndNow(int exitCode) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
  ::ExitProcess(static_cast<UINT>(exitCode));
}

void Dispatch(EXCEPTION_POINTERS* pointers) {
  const DWORD thread = ::GetCurrentThreadId();
  if (!EnterHandler(thread)) EndNow(255);  // the handler itself faulted
  Platform::FatalSignalHandler handler = g_handler.load();
  if (handler == nullptr) return;
  OverflowHandover handover{DescribeException(pointers, thread)};
  if (pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    HANDLE helper = ::CreateThread(nullptr, 256 * 1024, RunHandlerElsewhere, &handover, 0, nullptr);
    if (helper != nullptr) {
      ::WaitForSingleObject(helper, INFINITE);
      ::CloseHandle(helper);
      return;
    }
  }
  handler(handover.fault);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  Dispatch(pointers);
  return EXCEPTION_EXECUTE_HANDLER;
}

void OnAbortSignal(int) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = kAbortCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#if defined(__i386__)
  record.ExceptionAddress = reinterpret_cast<void*>(context.Eip);
#else
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
#endif
  EXCEPTION_POINTERS pointers{&record, &context};
  Dispatch(&pointers);
  EndNow(3);  // what abort() ends with
}

HANDLE HandleOfFile(int file) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file));
}

bool WriteDump(HANDLE process, DWORD processId, HANDLE file, const FatalFault* fault) {
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  MINIDUMP_EXCEPTION_INFORMATION* exceptionParameter = nullptr;
  if (fault != nullptr && fault->context != nullptr) {
    exception.ThreadId = fault->threadId;
    exception.ExceptionPointers = static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(fault->context));
    exception.ClientPointers = FALSE;
    exceptionParameter = &exception;
  }
  const auto type =
      static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithHandleData | MiniDumpWithUnloadedModules);
  return ::MiniDumpWriteDump(process, processId, file, type, exceptionParameter, nullptr, nullptr) != FALSE;
}

}  // namespace

bool Win32Platform::DebuggerAttached() {
  return ::IsDebuggerPresent() != FALSE;
}

bool Win32Platform::InstallFatalSignalHandler(FatalSignalHandler handler) {
  g_handler.store(handler);
  // Without the system's error boxes, a fault ends in the filter and not
  // in a dialog that waits for a user.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(OnUnhandledException);
  if (previous != OnUnhandledException) g_previousFilter = previous;  // installed again: keep the first
  std::signal(SIGABRT, OnAbortSignal);
  UseFaultStackOnThisThread();
  return true;
}

void Win32Platform::RestoreFatalSignalDefaults() {
  ::SetUnhandledExceptionFilter(g_previousFilter);
  std::signal(SIGABRT, SIG_DFL);
  g_handler.store(nullptr);
}

bool Win32Platform::WriteCrashFile(const char* nativePath, const void* data, std::size_t length) {
  const int file = CreateCrashFile(nativePath);
  if (file == -1) return false;
  const bool written = AppendCrashFile(file, data, length);
  CloseCrashFile(file);
  return written;
}

bool Win32Platform::WriteMinidump(const char* nativePath, const FatalFault& fault) {
  HANDLE file = ::CreateFileW(Win32Paths::ToNative(nativePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, &fault);
  ::CloseHandle(file);
  return written;
}

bool Win32Platform::WriteProcessMinidump(std::uint32_t processId, const char* nativePath) {
  HANDLE process =
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, processId);
  if (process == nullptr) return false;
  HANDLE file = ::CreateFileW(Win32Paths::ToNative(nativePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = false;
  if (file != INVALID_HANDLE_VALUE) {
    // DbgHelp suspends the other process's threads while it reads them.
    written = WriteDump(process, processId, file, nullptr);
    ::CloseHandle(file);
  }
  ::CloseHandle(process);
  return written;
}

std::size_t Win32Platform::LoadedModules(LoadedModule* modules, std::size_t capacity) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  std::size_t found = 0;
  for (BOOL more = ::Module32FirstW(snapshot, &entry); more; more = ::Module32NextW(snapshot, &entry)) {
    if (found < capacity) {
      LoadedModule& module = modules[found];
      module = LoadedModule{};
      ::WideCharToMultiByte(CP_UTF8, 0, entry.szExePath, -1, module.path, sizeof(module.path) - 1, nullptr,
                            nullptr);
      module.base = reinterpret_cast<std::uintptr_t>(entry.modBaseAddr);
      module.size = entry.modBaseSize;
      WIN32_FILE_ATTRIBUTE_DATA data;
      if (::GetFileAttributesExW(entry.szExePath, GetFileExInfoStandard, &data)) {
        module.fileSize = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const std::int64_t ticks = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                   data.ftLastWriteTime.dwLowDateTime;
        module.fileTime = (ticks - 116444736000000000LL) / 10000000LL;
      }
    }
    ++found;
  }
  ::CloseHandle(snapshot);
  // Address order, as on the other platforms (insertion sort: no allocation).
  const std::size_t stored = found < capacity ? found : capacity;
  for (std::size_t i = 1; i < stored; ++i) {
    for (std::size_t j = i; j > 0 && modules[j - 1].base > modules[j].base; --j) {
      const LoadedModule swap = modules[j];
      modules[j] = modules[j - 1];
      modules[j - 1] = swap;
    }
  }
  return found;
}

std::size_t Win32Platform::FormatFaultRegisters(const FatalFault& fault, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  if (fault.context == nullptr) return 0;
  const CONTEXT* c = static_cast<const EXCEPTION_POINTERS*>(fault.context)->ContextRecord;
  int length;
#if defined(__i386__)
  length = std::snprintf(out, capacity,
                         "EAX:    0x%08lx  EBX: 0x%08lx  ECX:   0x%08lx\r\n"
                         "EDX:    0x%08lx  ESI: 0x%08lx  EDI:   0x%08lx\r\n"
                         "EIP:    0x%08lx  EBP: 0x%08lx  SegCs: 0x%08lx\r\n"
                         "EFlags: 0x%08lx  ESP: 0x%08lx  SegSs: 0x%08lx\r\n",
                         c->Eax, c->Ebx, c->Ecx, c->Edx, c->Esi, c->Edi, c->Eip, c->Ebp, c->SegCs, c->EFlags,
                         c->Esp, c->SegSs);
#else
  length = std::snprintf(out, capacity, "RIP:    0x%016llx  RSP: 0x%016llx\r\n",
                         static_cast<unsigned long long>(c->Rip), static_cast<unsigned long long>(c->Rsp));
#endif
  if (length < 0) return 0;
  return static_cast<std::size_t>(length) < capacity ? static_cast<std::size_t>(length) : capacity - 1;
}

bool Win32Platform::ReadMemorySafely(std::uintptr_t address, void* out, std::size_t length) {
  if (length == 0) return true;
  SIZE_T got = 0;
  return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address), out, length,
                             &got) &&
         got == length;
}

std::uintptr_t Win32Platform::StackBase(std::uintptr_t stackPointer) {
  // A thread's stack is one reservation: its end is the end of the last
  // region that shares the reservation's base.
  MEMORY_BASIC_INFORMATION region;
  if (::VirtualQuery(reinterpret_cast<const void*>(stackPointer), &region, sizeof(region)) == 0) return 0;
  void* const reservation = region.AllocationBase;
  if (reservation == nullptr) return 0;
  std::uintptr_t end = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
  while (::VirtualQuery(reinterpret_cast<const void*>(end), &region, sizeof(region)) != 0 &&
         region.AllocationBase == reservation) {
    end = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  return end;
}

bool Win32Platform::DescribeSystem(SystemDescription& description) {
  description = SystemDescription{};
  std::snprintf(description.systemName, sizeof(description.systemName), "Windows");
  // RtlGetVersion tells the real version, whatever the manifest declares.
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  using GetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion = reinterpret_cast<GetVersionCall>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (getVersion != nullptr && getVersion(&version) == 0) {
    description.major = version.dwMajorVersion;
    description.minor = version.dwMinorVersion;
    description.build = version.dwBuildNumber;
  }
  std::snprintf(description.release, sizeof(description.release), "%u.%u.%u", description.major,
                description.minor, description.build);
  SYSTEM_INFO system;
  ::GetNativeSystemInfo(&system);
  description.processorCount = system.dwNumberOfProcessors;
  switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      description.processorType = 386;
      break;
    case PROCESSOR_ARCHITECTURE_AMD64:
      description.processorType = 8664;
      break;
    default:
      description.processorType = 0;
  }
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  if (::GlobalMemoryStatusEx(&memory)) {
    description.physicalTotal = memory.ullTotalPhys;
    description.physicalFree = memory.ullAvailPhys;
    description.swapTotal = memory.ullTotalPageFile;
    description.swapFree = memory.ullAvailPageFile;
    description.addressSpaceTotal = memory.ullTotalVirtual;
    description.addressSpaceFree = memory.ullAvailVirtual;
  }
  return true;
}

bool Win32Platform::StartProgramFromFault(const char* path, char* const* argv) {
  std::vector<std::string> arguments;
  for (char* const* argument = argv; argument != nullptr && *argument != nullptr; ++argument)
    arguments.emplace_back(*argument);
  if (arguments.empty()) arguments.emplace_back(path);
  std::wstring commandLine = Win32CommandLine::Join(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(Win32Paths::ToNative(path).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
    return false;
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

bool Win32Platform::NativePathExists(const char* nativePath) {
  return ::GetFileAttributesW(Win32Paths::ToNative(nativePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int Win32Platform::CreateCrashFile(const char* nativePath) {
  HANDLE file = ::CreateFileW(Win32Paths::ToNative(nativePath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  // Handle values fit in 32 bits on every Windows.
  return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

bool Win32Platform::AppendCrashFile(int file, const void* data, std::size_t length) {
  if (file == -1) return false;
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    DWORD written = 0;
    const DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    if (!::WriteFile(HandleOfFile(file), bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

void Win32Platform::CloseCrashFile(int file) {
  if (file != -1) ::CloseHandle(HandleOfFile(file));
}

bool Win32Platform::UseFaultStackOnThisThread() {
  // Stack kept back for the handler when the thread's stack overflows.
  ULONG reserve = 64 * 1024;
  return ::SetThreadStackGuarantee(&reserve) != FALSE;
}

void Win32Platform::ExitImmediately(int exitCode) {
  EndNow(exitCode);
}

void Win32Platform::KillSelf() {
  EndNow(1);  // what an outside TerminateProcess leaves, as taskkill /F does
}

}  // namespace OS
