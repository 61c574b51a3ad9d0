// The Windows backend of the platform layer (private to the layer).
//
// Paths are kept wide from the caller to the system: a program path becomes
// a native path by turning '/' into '\' and, when it is long, by prefixing
// "\\?\" to its full form, so paths beyond MAX_PATH work. Windows matches
// names without regard to case by itself. Descriptors are the C runtime's
// numbers over file handles, so the kernel file class and the streams work
// unchanged. Process ids are the system's, with the process handles kept
// here until the child is waited for.
#pragma once

#include <map>
#include <mutex>

#include "KernelStandard/platform/win32/Win32Api.h"

namespace OS {

class Win32Platform final : public Platform {
 public:
  std::string NativePath(const std::wstring& path) override;
  bool Stat(const std::wstring& path, FileInfo& info) override;
  bool IsSymbolicLink(const std::wstring& path) override;
  bool Exists(const std::wstring& path) override;
  bool SetReadOnlyFlag(const std::wstring& path, bool readOnly) override;
  bool CreateDirectory(const std::wstring& path) override;
  bool RemoveDirectory(const std::wstring& path) override;
  bool DeleteFile(const std::wstring& path) override;
  bool MoveFile(const std::wstring& from, const std::wstring& to) override;
  bool ReplaceFile(const std::wstring& from, const std::wstring& to) override;
  bool CopyFile(const std::wstring& from, const std::wstring& to, bool overwrite) override;
  bool IsFileInUse(const std::wstring& path) override;
  bool ListDirectory(const std::wstring& path, std::vector<DirEntry>& entries) override;
  bool GetFreeBytes(const std::wstring& path, std::uint64_t& freeBytes) override;
  bool SetCurrentDirectory(const std::wstring& path) override;
  std::wstring GetCurrentDirectory() override;
  bool MakePrivateFolder(const std::wstring& path) override;
  bool CanWriteFolder(const std::wstring& path) override;

  // Streams and descriptors (Win32Streams.cpp).
  std::FILE* OpenStream(const std::wstring& path, OpenMode mode) override;
  std::size_t ReadStream(std::FILE* stream, void* data, std::size_t length) override;
  std::size_t WriteStream(std::FILE* stream, const void* data, std::size_t length) override;
  bool SeekStream(std::FILE* stream, std::uint64_t position) override;
  bool StreamLength(std::FILE* stream, std::uint64_t& length) override;
  bool TruncateStream(std::FILE* stream, std::uint64_t length) override;
  bool FlushStream(std::FILE* stream, bool commit) override;
  void CloseStream(std::FILE* stream) override;
  int OpenDescriptor(const std::wstring& path, OpenMode mode) override;
  long ReadDescriptor(int fd, void* data, std::size_t length) override;
  long WriteDescriptor(int fd, const void* data, std::size_t length) override;
  bool SeekDescriptor(int fd, std::uint64_t position) override;
  void CloseDescriptor(int fd) override;

  // Processes (Win32Processes.cpp).
  bool SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) override;
  bool SpawnDetached(const std::vector<std::string>& argv, int& pid) override;
  bool SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                     SpawnedProcess& child) override;
  bool WaitProcess(int pid, int timeoutMs, int& exitCode) override;
  long ReadPipe(int fd, void* data, std::size_t length) override;
  void ClosePipe(int fd) override;
  bool IsProcessRunning(std::uint32_t processId) override;
  bool FindProgram(const std::string& name, std::string& path) override;
  bool RunElevated(const std::wstring& program, const std::wstring& arguments) override;

  // Environment (Win32Environment.cpp).
  bool GetEnvironment(const std::string& name, std::string& value) override;
  std::uint32_t TickCount() override;
  std::uint32_t ProcessId() override;
  std::uint32_t ThreadId() override;
  std::wstring ExecutablePath() override;
  std::uint32_t MainThreadId() override;
  std::wstring SystemTempFolder() override;
  std::wstring UserDataFolder() override;
  void DebugOutput(const std::string& text) override;
  bool RedirectStdoutToPipe(const std::wstring& pipeName) override;
  bool WriteStdout(const void* data, std::size_t length) override;
  void Sleep(std::uint32_t milliseconds) override;
  bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) override;
  bool SetThreadPriority(std::uint32_t threadId, int priority) override;
  bool GetThreadPriority(std::uint32_t threadId, int& priority) override;
  bool StartNetwork() override;
  bool IsTerminal(int fd) override;
  bool InstallInterruptHandler(void (*handler)()) override;
  bool InstallConsoleControlHandler(ConsoleControlHandler handler) override;

  // Named objects (Win32NamedObjects.cpp).
  std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name, bool initialOwner,
                                               bool& existed) override;
  std::unique_ptr<NamedMutex> OpenAccessMutex(const std::string& name, bool exclusive,
                                              bool& created) override;
  std::unique_ptr<SharedMemory> CreateSharedMemory(const std::string& name, std::size_t size,
                                                   bool& existed) override;
  std::unique_ptr<SharedMemory> OpenSharedMemory(const std::string& name) override;

  // Fatal faults and crash files (Win32Crash.cpp, Win32Symbols.cpp).
  bool DebuggerAttached() override;
  bool InstallFatalSignalHandler(FatalSignalHandler handler) override;
  void RestoreFatalSignalDefaults() override;
  bool WriteCrashFile(const char* nativePath, const void* data, std::size_t length) override;
  bool WriteMinidump(const char* nativePath, const FatalFault& fault) override;
  std::size_t LoadedModules(LoadedModule* modules, std::size_t capacity) override;
  std::size_t FormatFaultRegisters(const FatalFault& fault, char* out, std::size_t capacity) override;
  bool ReadMemorySafely(std::uintptr_t address, void* out, std::size_t length) override;
  std::uintptr_t StackBase(std::uintptr_t stackPointer) override;
  bool DescribeSystem(SystemDescription& description) override;
  bool StartProgramFromFault(const char* path, char* const* argv) override;
  bool NativePathExists(const char* nativePath) override;
  int CreateCrashFile(const char* nativePath) override;
  bool AppendCrashFile(int file, const void* data, std::size_t length) override;
  void CloseCrashFile(int file) override;
  bool UseFaultStackOnThisThread() override;
  std::size_t CaptureCallStack(std::uintptr_t* frames, std::size_t capacity) override;
  std::unique_ptr<SymbolLookup> OpenSymbolLookup() override;
  bool WriteProcessMinidump(std::uint32_t processId, const char* nativePath) override;
  [[noreturn]] void ExitImmediately(int exitCode) override;
  [[noreturn]] void KillSelf() override;

 private:
  bool Spawn(const std::vector<std::string>& argv, bool withPipe, bool detached, const std::wstring& folder,
             int& pid, int& outputFd);

  std::mutex m_childrenMutex;
  std::map<int, HANDLE> m_children;  // started and not waited for, by process id
};

// Sets the last error from the thread's Windows error and returns false.
bool FailFromSystem();
bool FailWith(int error);

}  // namespace OS
