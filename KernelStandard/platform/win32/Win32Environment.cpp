// The process environment: variables, clocks, ids, the program's own file,
// the console, threads and the console control events.
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <atomic>
#include <vector>

#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

// Static objects are initialised on the main thread, before main() runs.
const DWORD g_mainThreadId = ::GetCurrentThreadId();

std::atomic<void (*)()> g_interruptHandler{nullptr};
std::atomic<Platform::ConsoleControlHandler> g_controlHandler{nullptr};

BOOL WINAPI OnInterruptEvent(DWORD controlType) {
  if (controlType != CTRL_C_EVENT && controlType != CTRL_BREAK_EVENT) return FALSE;
  void (*handler)() = g_interruptHandler.load();
  if (handler == nullptr) return FALSE;
  handler();
  return TRUE;
}

BOOL WINAPI OnControlEvent(DWORD controlType) {
  const Platform::ConsoleControlHandler handler = g_controlHandler.load();
  if (handler == nullptr) return FALSE;
  if (controlType != CTRL_C_EVENT && controlType != CTRL_CLOSE_EVENT && controlType != CTRL_SHUTDOWN_EVENT)
    return FALSE;
  return handler(static_cast<int>(controlType)) ? TRUE : FALSE;
}

struct ThreadStart {
  Platform::ThreadEntry entry;
  void* argument;
};

unsigned __stdcall RunThread(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  // Stack kept back for the fatal-fault handler should this thread's
  // stack overflow.
  ULONG reserve = 64 * 1024;
  ::SetThreadStackGuarantee(&reserve);
  start.entry(start.argument);
  return 0;
}

bool IsKnownLevel(int level) {
  return level == THREAD_PRIORITY_IDLE || level == THREAD_PRIORITY_TIME_CRITICAL ||
         (level >= -2 && level <= 2);
}

}  // namespace

bool Win32Platform::GetEnvironment(const std::string& name, std::string& value) {
  const std::wstring wideName = FromUtf8(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(0);
    const DWORD length =
        ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return FailWith(ERROR_FILE_NOT_FOUND);
      value.clear();  // set and empty
      return true;
    }
    if (length < buffer.size()) {
      value = ToUtf8(std::wstring(buffer.data(), length));
      return true;
    }
    buffer.resize(length + 1);
  }
}

std::uint32_t Win32Platform::TickCount() {
  return ::GetTickCount();
}

std::uint32_t Win32Platform::ProcessId() {
  return ::GetCurrentProcessId();
}

std::uint32_t Win32Platform::ThreadId() {
  return ::GetCurrentThreadId();
}

std::wstring Win32Platform::ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      FailFromSystem();
      return {};
    }
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      if (path.rfind(L"\\\\?\\", 0) == 0 && path.rfind(L"\\\\?\\UNC\\", 0) != 0) path.erase(0, 4);
      return path;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::uint32_t Win32Platform::MainThreadId() {
  return g_mainThreadId;
}

std::wstring Win32Platform::SystemTempFolder() {
  return L"C:\\temp";
}

std::wstring Win32Platform::UserDataFolder() {
  std::string folder;
  if (GetEnvironment("LOCALAPPDATA", folder) && !folder.empty()) return FromUtf8(folder);
  if (GetEnvironment("APPDATA", folder) && !folder.empty()) return FromUtf8(folder);
  return {};
}

void Win32Platform::DebugOutput(const std::string& text) {
  ::OutputDebugStringW(FromUtf8(text).c_str());
  // As on the other platforms, KORVEL_DEBUG_OUTPUT names a file that keeps
  // the text for tests.
  std::string target;
  if (!GetEnvironment("KORVEL_DEBUG_OUTPUT", target) || target.empty()) return;
  HANDLE file =
      ::CreateFileW(Win32Paths::ToNative(FromUtf8(target)).c_str(), FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

bool Win32Platform::RedirectStdoutToPipe(const std::wstring& pipeName) {
  // Only an existing pipe with a server end waiting opens; anything else
  // (a plain file of that name) is refused.
  HANDLE pipe = ::CreateFileW(Win32Paths::ToNative(pipeName).c_str(), GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return FailFromSystem();
  if (::GetFileType(pipe) != FILE_TYPE_PIPE) {
    ::CloseHandle(pipe);
    return FailWith(ERROR_FILE_NOT_FOUND);
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(pipe), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(pipe);
    return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  std::fflush(stdout);
  const bool ready = ::_dup2(fd, 1) == 0;
  ::_close(fd);
  if (!ready) return FailWith(ErrorFromErrno(errno));
  ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(1)));
  return true;
}

bool Win32Platform::WriteStdout(const void* data, std::size_t length) {
  HANDLE output = reinterpret_cast<HANDLE>(::_get_osfhandle(1));
  if (output == INVALID_HANDLE_VALUE || output == nullptr) output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == INVALID_HANDLE_VALUE || output == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  DWORD written = 0;
  if (!::WriteFile(output, data, static_cast<DWORD>(length), &written, nullptr)) {
    // A reader that went away is a closed pipe, not a fault of ours.
    return FailFromSystem();
  }
  return written == length || FailWith(ERROR_WRITE_FAULT);
}

void Win32Platform::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool Win32Platform::StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) {
  auto* start = new ThreadStart{entry, argument};
  // _beginthreadex sets up the C runtime's per-thread state for the thread.
  const std::uintptr_t handle =
      ::_beginthreadex(nullptr, static_cast<unsigned>(stackSize), RunThread, start,
                       stackSize != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (handle == 0) {
    delete start;
    return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

bool Win32Platform::SetThreadPriority(std::uint32_t threadId, int priority) {
  if (!IsKnownLevel(priority)) return FailWith(ERROR_INVALID_PARAMETER);
  HANDLE thread = ::OpenThread(THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (thread == nullptr) return FailFromSystem();
  const BOOL ok = ::SetThreadPriority(thread, priority);
  const DWORD error = ::GetLastError();
  ::CloseHandle(thread);
  return ok || FailWith(static_cast<int>(error));
}

bool Win32Platform::GetThreadPriority(std::uint32_t threadId, int& priority) {
  priority = 0;
  HANDLE thread = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (thread == nullptr) return FailFromSystem();
  const int level = ::GetThreadPriority(thread);
  const DWORD error = ::GetLastError();
  ::CloseHandle(thread);
  if (level == THREAD_PRIORITY_ERROR_RETURN) return FailWith(static_cast<int>(error));
  priority = level;
  return true;
}

bool Win32Platform::IsTerminal(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

bool Win32Platform::InstallInterruptHandler(void (*handler)()) {
  g_interruptHandler.store(handler);
  return ::SetConsoleCtrlHandler(OnInterruptEvent, TRUE) || FailFromSystem();
}

bool Win32Platform::InstallConsoleControlHandler(ConsoleControlHandler handler) {
  g_controlHandler.store(handler);
  return ::SetConsoleCtrlHandler(OnControlEvent, handler != nullptr ? TRUE : FALSE) || FailFromSystem();
}

}  // namespace OS
