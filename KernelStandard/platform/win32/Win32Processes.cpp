// Child processes through CreateProcessW. A child with a pipe gets one
// anonymous pipe as standard output and standard error; its standard input
// is the parent's unless that is a console, which it never reads from (it
// gets the NUL device). Every child runs in a process group of its own, so
// the console's Ctrl-C does not reach it; a detached child also has no
// console. Handles are inherited only by the child being started: spawns are
// serialised so that no other child receives a pipe end meant for this one.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <vector>

#include "KernelStandard/platform/ListedChildren.h"
#include "KernelStandard/platform/win32/Win32CommandLine.h"
#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

std::mutex g_spawnMutex;

bool NamesAPath(const std::string& program) {
  return program.find_first_of("\\/:") != std::string::npos;
}

// The program's full path: a path as given, a bare name searched along PATH
// (with ".exe" added when the name has no extension).
bool ResolveProgram(const std::string& program, std::wstring& resolved) {
  const std::wstring wide = FromUtf8(program);
  if (NamesAPath(program)) {
    resolved = Win32Paths::ToNative(wide);
    return true;
  }
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
    if (length == 0) return FailWith(ERROR_FILE_NOT_FOUND);
    if (length < buffer.size()) {
      resolved.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length + 1);
  }
}

HANDLE InheritableCopy(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

bool IsConsoleHandle(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The standard input a child gets: the NUL device in place of a console.
HANDLE ChildInput() {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsoleHandle(input)) {
    HANDLE copy = InheritableCopy(input);
    if (copy != nullptr) return copy;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return nul == INVALID_HANDLE_VALUE ? nullptr : nul;
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

}  // namespace

void InterruptChildProcesses() {
  // A process group only takes Ctrl-Break; the children treat it as Ctrl-C.
  ListedChildren::ForEach(
      [](int pid) { ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid)); });
}

bool Win32Platform::Spawn(const std::vector<std::string>& argv, bool withPipe, bool detached,
                          const std::wstring& folder, int& pid, int& outputFd) {
  pid = -1;
  outputFd = -1;
  if (argv.empty() || argv[0].empty()) return FailWith(ERROR_INVALID_PARAMETER);
  std::wstring program;
  if (!ResolveProgram(argv[0], program)) return false;
  std::wstring commandLine = Win32CommandLine::Join(argv);
  const std::wstring currentFolder = folder.empty() ? std::wstring() : Win32Paths::ToNative(folder);

  std::lock_guard<std::mutex> spawnLock(g_spawnMutex);
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  HANDLE input = nullptr;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  BOOL inherit = FALSE;
  if (withPipe) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
    if (!::CreatePipe(&readEnd, &writeEnd, &attributes, 0)) return FailFromSystem();
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    input = ChildInput();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    inherit = TRUE;
  }
  DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
  if (detached) {
    flags |= DETACHED_PROCESS;
  } else if (::GetConsoleWindow() == nullptr) {
    // A program without a console (the window) would otherwise open one
    // for each console tool it runs; the tool's output goes to the pipe.
    flags |= CREATE_NO_WINDOW;
  }
  PROCESS_INFORMATION started{};
  const BOOL ok =
      ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags, nullptr,
                       currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &started);
  const DWORD error = ::GetLastError();
  CloseIfOpen(writeEnd);
  CloseIfOpen(input);
  if (!ok) {
    CloseIfOpen(readEnd);
    return FailWith(error == 0 ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(error));
  }
  ::CloseHandle(started.hThread);
  pid = static_cast<int>(started.dwProcessId);
  {
    std::lock_guard<std::mutex> lock(m_childrenMutex);
    m_children[pid] = started.hProcess;
  }
  if (withPipe) {
    outputFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(readEnd), _O_RDONLY | _O_BINARY);
    if (outputFd < 0) ::CloseHandle(readEnd);
    ListedChildren::Add(pid);
  }
  return true;
}

bool Win32Platform::SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) {
  return Spawn(argv, true, false, std::wstring(), child.pid, child.outputFd);
}

bool Win32Platform::SpawnDetached(const std::vector<std::string>& argv, int& pid) {
  int unused = -1;
  return Spawn(argv, false, true, std::wstring(), pid, unused);
}

bool Win32Platform::SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                                  SpawnedProcess& child) {
  if (folder.empty()) return FailWith(ERROR_INVALID_PARAMETER);
  return Spawn(argv, true, false, folder, child.pid, child.outputFd);
}

bool Win32Platform::WaitProcess(int pid, int timeoutMs, int& exitCode) {
  HANDLE process = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_childrenMutex);
    const auto found = m_children.find(pid);
    if (found == m_children.end()) return FailWith(ERROR_INVALID_PARAMETER);
    process = found->second;
  }
  const DWORD wait = ::WaitForSingleObject(process, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (wait == WAIT_TIMEOUT) return false;
  if (wait != WAIT_OBJECT_0) return FailFromSystem();
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return FailFromSystem();
  {
    std::lock_guard<std::mutex> lock(m_childrenMutex);
    const auto found = m_children.find(pid);
    if (found == m_children.end()) return FailWith(ERROR_INVALID_PARAMETER);  // waited for meanwhile
    m_children.erase(found);
  }
  ::CloseHandle(process);
  ListedChildren::Remove(pid);
  exitCode = static_cast<int>(code);
  return true;
}

long Win32Platform::ReadPipe(int fd, void* data, std::size_t length) {
  return ReadDescriptor(fd, data, length);
}

void Win32Platform::ClosePipe(int fd) {
  if (fd >= 0) ::_close(fd);
}

bool Win32Platform::IsProcessRunning(std::uint32_t processId) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    // A process of another user that we may not open exists all the same.
    if (::GetLastError() == ERROR_ACCESS_DENIED) return true;
    return FailFromSystem();
  }
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

bool Win32Platform::FindProgram(const std::string& name, std::string& path) {
  if (name.empty()) return FailWith(ERROR_INVALID_PARAMETER);
  std::wstring resolved;
  if (!ResolveProgram(name, resolved)) return false;
  const DWORD attributes = ::GetFileAttributesW(resolved.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return FailWith(ERROR_FILE_NOT_FOUND);
  path = ToUtf8(resolved);
  return true;
}

bool Win32Platform::RunElevated(const std::wstring& program, const std::wstring& arguments) {
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof(request);
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;  // 0x440
  request.hwnd = nullptr;
  request.lpVerb = L"runas";
  const std::wstring file = Win32Paths::ToNative(program);
  request.lpFile = file.c_str();
  request.lpParameters = arguments.c_str();
  request.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&request)) return FailFromSystem();
  if (request.hProcess != nullptr) {
    ::WaitForSingleObject(request.hProcess, INFINITE);
    ::CloseHandle(request.hProcess);
  }
  return true;
}

}  // namespace OS
