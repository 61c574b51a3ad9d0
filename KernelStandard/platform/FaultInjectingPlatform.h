// The fault-injecting Platform wrapper behind FaultInjection.h. Every member
// delegates to the inner platform unless a rule for the member's name
// matches the call; a matched call leaves the rule's error as the last error
// and returns the call's failure value (false, nullptr, -1, 0 bytes or an
// empty text). A GetFreeBytes rule with a value reports that value instead,
// and so does an EffectiveUserId rule (tests act as another user that way).
//
// Calls on streams and descriptors match a rule's path through the path the
// stream or descriptor was opened with; MoveFile, ReplaceFile and CopyFile
// match either path; spawns match the program and its arguments joined by blanks; named
// objects match their name. A matched Sleep returns at once (tests use that
// to run waiting loops without waiting).
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"

namespace OS {

class FaultInjectingPlatform final : public Platform {
 public:
  FaultInjectingPlatform(Platform& inner, std::vector<FaultRule> rules);

  void AddRule(FaultRule rule);
  int Calls(const std::string& operation) const;
  Platform& Inner() { return m_inner; }
  // Counts a call of `operation` and tells whether a rule makes it fail; on
  // failure the rule's error is the last error. Also used for operations
  // that are not Platform members, such as "RegistryReplace".
  bool ShouldFail(const std::string& operation, const std::string& path);

  std::string NativePath(const std::wstring& path) override;
  bool Stat(const std::wstring& path, FileInfo& info) override;
  bool Exists(const std::wstring& path) override;
  bool IsSymbolicLink(const std::wstring& path) override { return m_inner.IsSymbolicLink(path); }
  bool SetReadOnlyFlag(const std::wstring& path, bool readOnly) override;
  bool SetPermissions(const std::wstring& path, std::uint32_t permissions) override;
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

  // Private folders and the user (FaultInjectingPrivateFolders.cpp).
  bool IsSharedFolder(const std::wstring& path) override;
  bool MakePrivateFolder(const std::wstring& path) override;
  bool CanWriteFolder(const std::wstring& path) override;
  std::uint32_t EffectiveUserId() override;
  std::wstring UserDataFolder() override;

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

  bool SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) override;
  bool SpawnDetached(const std::vector<std::string>& argv, int& pid) override;
  bool SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                     SpawnedProcess& child) override;
  bool WaitProcess(int pid, int timeoutMs, int& exitCode) override;
  long ReadPipe(int fd, void* data, std::size_t length) override;
  void ClosePipe(int fd) override;

  bool GetEnvironment(const std::string& name, std::string& value) override;
  std::uint32_t TickCount() override;
  std::uint32_t ProcessId() override;
  std::uint32_t ThreadId() override;
  std::wstring ExecutablePath() override;
  std::wstring SystemTempFolder() override;
  void DebugOutput(const std::string& text) override;
  bool RedirectStdoutToPipe(const std::wstring& pipeName) override;
  bool WriteStdout(const void* data, std::size_t length) override;
  void Sleep(std::uint32_t milliseconds) override;

  std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name, bool initialOwner,
                                               bool& existed) override;
  std::unique_ptr<SharedMemory> CreateSharedMemory(const std::string& name, std::size_t size,
                                                   bool& existed) override;
  std::unique_ptr<SharedMemory> OpenSharedMemory(const std::string& name) override;
  std::unique_ptr<NamedMutex> OpenAccessMutex(const std::string& name, bool exclusive,
                                              bool& created) override;

  bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) override;
  bool SetThreadPriority(std::uint32_t threadId, int priority) override;
  bool GetThreadPriority(std::uint32_t threadId, int& priority) override;
  bool IsProcessRunning(std::uint32_t processId) override;

  bool FindProgram(const std::string& name, std::string& path) override;
  bool RunElevated(const std::wstring& program, const std::wstring& arguments) override;
  std::uint32_t MainThreadId() override { return m_inner.MainThreadId(); }
  bool StartNetwork() override;
  bool IsTerminal(int fd) override;
  bool InstallInterruptHandler(void (*handler)()) override;
  bool DebuggerAttached() override;
  bool InstallFatalSignalHandler(FatalSignalHandler handler) override;
  void RestoreFatalSignalDefaults() override;
  bool WriteCrashFile(const char* nativePath, const void* data, std::size_t length) override;
  bool WriteMinidump(const char* nativePath, const FatalFault& fault) override {
    return m_inner.WriteMinidump(nativePath, fault);
  }
  std::size_t LoadedModules(LoadedModule* modules, std::size_t capacity) override {
    return m_inner.LoadedModules(modules, capacity);
  }
  std::size_t FormatFaultRegisters(const FatalFault& fault, char* out, std::size_t capacity) override {
    return m_inner.FormatFaultRegisters(fault, out, capacity);
  }
  bool ReadMemorySafely(std::uintptr_t address, void* out, std::size_t length) override {
    return m_inner.ReadMemorySafely(address, out, length);
  }
  std::uintptr_t StackBase(std::uintptr_t stackPointer) override { return m_inner.StackBase(stackPointer); }
  bool DescribeSystem(SystemDescription& description) override { return m_inner.DescribeSystem(description); }
  bool StartProgramFromFault(const char* path, char* const* argv) override {
    return m_inner.StartProgramFromFault(path, argv);
  }
  bool NativePathExists(const char* nativePath) override { return m_inner.NativePathExists(nativePath); }
  int CreateCrashFile(const char* nativePath) override { return m_inner.CreateCrashFile(nativePath); }
  bool AppendCrashFile(int file, const void* data, std::size_t length) override {
    return m_inner.AppendCrashFile(file, data, length);
  }
  void CloseCrashFile(int file) override { m_inner.CloseCrashFile(file); }
  bool UseFaultStackOnThisThread() override { return m_inner.UseFaultStackOnThisThread(); }
  std::size_t CaptureCallStack(std::uintptr_t* frames, std::size_t capacity) override {
    return m_inner.CaptureCallStack(frames, capacity);
  }
  std::unique_ptr<SymbolLookup> OpenSymbolLookup() override { return m_inner.OpenSymbolLookup(); }
  bool InstallConsoleControlHandler(ConsoleControlHandler handler) override {
    return m_inner.InstallConsoleControlHandler(handler);
  }
  bool WriteProcessMinidump(std::uint32_t processId, const char* nativePath) override {
    return m_inner.WriteProcessMinidump(processId, nativePath);
  }
  [[noreturn]] void ExitImmediately(int exitCode) override;
  [[noreturn]] void KillSelf() override;

 private:
  // Counts the call and finds the rule that fires for it; a firing rule
  // with a value hands the value out instead of failing.
  bool Match(const std::string& operation, const std::string& path,
             std::optional<std::uint64_t>* reportedValue);
  bool Fails(const std::string& operation, const std::wstring& path);
  bool Fails(const std::string& operation, std::FILE* stream);
  bool Fails(const std::string& operation, int fd);
  void Count(const std::string& operation);
  void Remember(std::FILE* stream, const std::wstring& path);
  void Remember(int fd, const std::wstring& path);
  std::string PathOf(std::FILE* stream);
  std::string PathOf(int fd);

  Platform& m_inner;
  mutable std::mutex m_mutex;
  std::vector<FaultRule> m_rules;
  std::map<std::string, int> m_calls;
  std::map<std::FILE*, std::string> m_streamPaths;
  std::map<int, std::string> m_descriptorPaths;
};

// Whether the installed platform (or a fault injector anywhere in the chain
// of wrappers) makes an operation that is not a Platform member fail. Used
// by parts of the platform layer that do their own system calls.
bool InjectedFault(const std::string& operation, const std::string& path);

}  // namespace OS
