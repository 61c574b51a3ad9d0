// The platform layer: every operating-system facility the program uses goes
// through OS::Platform. The POSIX backend lives in posix/; a Windows backend
// only has to implement the same interface. Tests install a wrapper
// (FaultInjection.h) that makes chosen calls fail.
//
// Paths enter in program form: wide strings whose separators may be '\' or
// '/'. The backend turns them into native paths. When an existing file or
// folder is looked up and the exact name is missing, each path component is
// matched without regard to ASCII case, because installations come from a
// case-insensitive world. Components that do not exist at all are kept as
// given, so creating a new file below an existing folder works too.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "KernelStandard/platform/SystemNames.h"

namespace OS {

// A fatal fault as the signal handler saw it. `context` is the backend's
// machine context of the faulting thread (a ucontext_t on POSIX).
struct FatalFault {
  int signalNumber = 0;
  int signalCode = 0;  // the kind of fault within the signal (si_code)
  std::uintptr_t address = 0;
  std::uint32_t threadId = 0;
  const void* context = nullptr;
  std::uintptr_t instructionPointer = 0;
  std::uintptr_t stackPointer = 0;
  std::uint32_t codeSegment = 0;
  bool writeAccess = false;  // a memory fault caused by a write
};

// A module (executable or shared object) loaded into the process.
struct LoadedModule {
  char path[256] = {};
  std::uintptr_t base = 0;
  std::uint64_t size = 0;
  unsigned char buildId[40] = {};
  std::uint32_t buildIdLength = 0;
  std::uint64_t fileSize = 0;
  std::int64_t fileTime = 0;  // modification time, seconds since 1970 (UTC)
};

// A code address resolved for a call stack; empty texts and line -1 where
// nothing is known.
struct CodeLocation {
  char module[256] = {};
  char symbol[2000] = {};
  char file[512] = {};
  int line = -1;
};

// Symbol and line lookups over the modules loaded when it was opened.
class SymbolLookup {
 public:
  virtual ~SymbolLookup() = default;
  // `returnAddress`: the address is where a call returns to, so the call
  // itself (the byte before) is looked up.
  virtual bool Describe(std::uintptr_t address, bool returnAddress, CodeLocation& location) = 0;
};

// The running system for crash reports.
struct SystemDescription {
  char systemName[65] = {};  // the kernel's name, "Linux" here
  char release[65] = {};     // the kernel's release text
  unsigned major = 0, minor = 0, build = 0;
  unsigned processorCount = 0;
  int processorType = 0;  // 8664 for x86-64, 386 for x86, 0 unknown
  std::uint64_t physicalTotal = 0, physicalFree = 0;
  std::uint64_t swapTotal = 0, swapFree = 0;
  std::uint64_t addressSpaceTotal = 0, addressSpaceFree = 0;
};

#ifdef _WIN32
// The system's macros for these codes (from <windows.h>, see SystemNames.h)
// give way to the enumerators; see the end of this file.
#undef ERROR_SUCCESS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_ACCESS_DENIED
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_WRITE_FAULT
#undef ERROR_READ_FAULT
#undef ERROR_SHARING_VIOLATION
#undef ERROR_HANDLE_DISK_FULL
#undef ERROR_NOT_SUPPORTED
#undef ERROR_FILE_EXISTS
#undef ERROR_INVALID_PARAMETER
#undef ERROR_DISK_FULL
#undef ERROR_DIR_NOT_EMPTY
#undef ERROR_ALREADY_EXISTS
#undef ERROR_INVALID_HANDLE
#undef ERROR_NOT_SAME_DEVICE
#undef ERROR_GEN_FAILURE
#undef ERROR_CALL_NOT_IMPLEMENTED
#undef ERROR_NOT_OWNER
#endif
// Windows system error codes kept as the thread's "last error", so messages
// and callers see the same numbers on every platform.
enum SystemError : int {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_ACCESS_DENIED = 5,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_SAME_DEVICE = 17,
  ERROR_GEN_FAILURE = 31,
  ERROR_CALL_NOT_IMPLEMENTED = 120,
  ERROR_NOT_OWNER = 288,  // releasing a mutex the caller does not own
};

int GetLastError();
void SetLastError(int code);
// A short English description of a SystemError code ("access denied",
// "the disk is full"), for messages that tell the user why a file failed.
std::wstring ErrorText(int code);
// Maps an errno value to the nearest SystemError code.
int ErrorFromErrno(int errnoValue);

struct FileInfo {
  bool isDirectory = false;
  bool readOnly = false;
  std::uint64_t size = 0;
  std::int64_t modifiedTime = 0;  // seconds since 1 January 1970
  // Permission bits in the POSIX form (0755, 0444...). A backend without
  // them reports 0444 for a read-only file and 0666 otherwise.
  std::uint32_t permissions = 0;
  // The path itself is a symbolic link (the other fields describe its
  // target).
  bool isSymbolicLink = false;
};

struct DirEntry {
  std::wstring name;            // bare entry name, never "." or ".."
  bool isDirectory = false;     // a folder, or a link to one
  bool isSymbolicLink = false;  // the entry itself is a symbolic link
};

// A child started with its standard output and standard error joined on one
// pipe whose read end the parent holds.
struct SpawnedProcess {
  int pid = -1;
  int outputFd = -1;  // -1 when the child was started without a pipe
};

// A handle to a mutex that processes share by name. Ownership belongs to
// the locking thread and is recursive, as with Windows mutexes. A lock whose
// holder died while holding it is handed to the next waiter (Windows calls
// that an abandoned mutex). Destroying the handle releases the locks taken
// through it and closes it; the mutex itself vanishes with its last handle.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // Waits up to timeoutMs (-1: no limit, 0: just try); true when acquired.
  virtual bool Lock(int timeoutMs) = 0;
  virtual void Unlock() = 0;
};

// A view of a block of memory that processes share by name. Destroying it
// unmaps the view and closes the handle; the block vanishes with its last
// handle, so a block whose holders all died starts afresh.
class SharedMemory {
 public:
  virtual ~SharedMemory() = default;
  virtual std::uint8_t* Data() = 0;
  virtual std::size_t Size() const = 0;
};

enum class OpenMode {
  Read,             // existing file, read only
  ReadWrite,        // existing file, read and write
  CreateTruncate,   // create or truncate, write only
  CreateReadWrite,  // create if missing, read and write, keep contents
  // A new file, write only, readable by its owner alone. Fails with
  // ERROR_ALREADY_EXISTS when anything is at the path already, a symbolic
  // link included (the link is never followed), so a name planted by
  // someone else is never written through.
  CreateExclusive
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- File system ------------------------------------------------------
  // The native path a program path resolves to (separators converted, case
  // matched against existing components).
  virtual std::string NativePath(const std::wstring& path) = 0;
  virtual bool Stat(const std::wstring& path, FileInfo& info) = 0;
  virtual bool Exists(const std::wstring& path) = 0;
  // True when the entry itself is a symbolic link, whether or not what it
  // names exists (Stat follows the link and fails on a dangling one).
  virtual bool IsSymbolicLink(const std::wstring& path) = 0;
  virtual bool SetReadOnlyFlag(const std::wstring& path, bool readOnly) = 0;
  // Sets the permission bits (FileInfo::permissions) of a file; a backend
  // without them keeps only the read-only flag (no write bit set).
  virtual bool SetPermissions(const std::wstring& path, std::uint32_t permissions) {
    return SetReadOnlyFlag(path, (permissions & 0222) == 0);
  }
  virtual bool CreateDirectory(const std::wstring& path) = 0;
  virtual bool RemoveDirectory(const std::wstring& path) = 0;
  virtual bool DeleteFile(const std::wstring& path) = 0;
  // Fails with ERROR_ALREADY_EXISTS when the destination exists.
  virtual bool MoveFile(const std::wstring& from, const std::wstring& to) = 0;
  // Moves `from` over `to` in one atomic step: afterwards `to` is either the
  // old file or the moved one, never missing or half written. A missing `to`
  // is fine. Refused, as on Windows, when `to` is read-only or a folder
  // (ERROR_ACCESS_DENIED) and when both are not on the same volume
  // (ERROR_NOT_SAME_DEVICE), since a copy could not be atomic. A backend
  // without it fails with ERROR_CALL_NOT_IMPLEMENTED.
  virtual bool ReplaceFile(const std::wstring& from, const std::wstring& to) {
    (void)from;
    (void)to;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  // Copies a file's bytes (replacing the destination when allowed).
  virtual bool CopyFile(const std::wstring& from, const std::wstring& to, bool overwrite) = 0;
  // True when another process holds the file open, so it must not be moved.
  virtual bool IsFileInUse(const std::wstring& path) = 0;
  virtual bool ListDirectory(const std::wstring& path, std::vector<DirEntry>& entries) = 0;
  virtual bool GetFreeBytes(const std::wstring& path, std::uint64_t& freeBytes) = 0;
  virtual bool SetCurrentDirectory(const std::wstring& path) = 0;
  virtual std::wstring GetCurrentDirectory() = 0;

  // Buffered streams (stdio). Writes and reads go through the layer so a
  // full disk or a failing read can be injected.
  virtual std::FILE* OpenStream(const std::wstring& path, OpenMode mode) = 0;
  virtual std::size_t ReadStream(std::FILE* stream, void* data, std::size_t length) = 0;
  virtual std::size_t WriteStream(std::FILE* stream, const void* data, std::size_t length) = 0;
  virtual bool SeekStream(std::FILE* stream, std::uint64_t position) = 0;
  virtual bool StreamLength(std::FILE* stream, std::uint64_t& length) = 0;
  virtual bool TruncateStream(std::FILE* stream, std::uint64_t length) = 0;
  // Flushes the stream; with commit the data is also forced to the disk.
  virtual bool FlushStream(std::FILE* stream, bool commit) = 0;
  virtual void CloseStream(std::FILE* stream) = 0;

  // Raw descriptors, for the kernel file class.
  virtual int OpenDescriptor(const std::wstring& path, OpenMode mode) = 0;
  virtual long ReadDescriptor(int fd, void* data, std::size_t length) = 0;
  virtual long WriteDescriptor(int fd, const void* data, std::size_t length) = 0;
  virtual bool SeekDescriptor(int fd, std::uint64_t position) = 0;
  virtual void CloseDescriptor(int fd) = 0;

  // --- Private folders ----------------------------------------------------
  // Whether someone besides the effective user and the administrator may
  // create or remove entries in the folder: it is writable by group or
  // others (as /tmp is) or belongs to another user. Names in such a folder
  // can be taken or replaced by others at any time. False for a missing
  // folder and for a backend without ownership.
  virtual bool IsSharedFolder(const std::wstring& path) {
    (void)path;
    return false;
  }
  // Creates a folder that only the effective user may enter (mode 0700), or
  // accepts an existing one that is a real folder (not a symbolic link),
  // owned by the effective user and not writable by group or others. An
  // existing folder that is not fails with ERROR_ACCESS_DENIED and is left
  // alone. The parent must exist. A backend without it fails with
  // ERROR_NOT_SUPPORTED.
  virtual bool MakePrivateFolder(const std::wstring& path) {
    (void)path;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  // Whether the effective user may create and remove entries in the folder
  // (false for a missing folder, a file, or a read-only file system).
  virtual bool CanWriteFolder(const std::wstring& path) {
    FileInfo info;
    return Stat(path, info) && info.isDirectory && !info.readOnly;
  }

  // --- Processes --------------------------------------------------------
  // argv[0] is the program; it is looked up as a path (no PATH search when
  // it contains a separator). The child does not get the terminal's Ctrl-C
  // (on POSIX it runs in a process group of its own); it reads nothing from
  // the terminal (a terminal as standard input is replaced by an empty
  // input), any other standard input is inherited. A detached child runs
  // apart from the terminal altogether and outlives the program.
  virtual bool SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) = 0;
  virtual bool SpawnDetached(const std::vector<std::string>& argv, int& pid) = 0;
  // As SpawnWithPipe, with `folder` as the child's current directory (the
  // parent's own current directory is left alone). A backend without it
  // fails with ERROR_NOT_SUPPORTED.
  virtual bool SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                             SpawnedProcess& child) {
    (void)argv;
    (void)folder;
    (void)child;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  // True when the process has ended within timeoutMs (-1: no limit); the
  // exit code is then stored. A process is reaped only once.
  virtual bool WaitProcess(int pid, int timeoutMs, int& exitCode) = 0;
  // Blocking read; returns the byte count, 0 at end of data, -1 on failure.
  virtual long ReadPipe(int fd, void* data, std::size_t length) = 0;
  virtual void ClosePipe(int fd) = 0;

  // --- Process environment ----------------------------------------------
  virtual bool GetEnvironment(const std::string& name, std::string& value) = 0;
  virtual std::uint32_t TickCount() = 0;  // milliseconds since start-up
  virtual std::uint32_t ProcessId() = 0;
  virtual std::uint32_t ThreadId() = 0;
  virtual std::wstring ExecutablePath() = 0;
  // The id (as ThreadId() gives it) of the process's main thread; on POSIX
  // that is the process id.
  virtual std::uint32_t MainThreadId() { return ProcessId(); }
  // Where "C:\temp" points when TEMP is unset.
  virtual std::wstring SystemTempFolder() = 0;
  // The effective user's number (the user id on POSIX); 0 is the
  // administrator (root), which a backend without users reports.
  virtual std::uint32_t EffectiveUserId() { return 0; }
  // The folder for the user's own program data: $XDG_DATA_HOME when it is
  // an absolute path, else <home>/.local/share, with <home> from $HOME or,
  // when that is unset, the user database. Empty when there is no home.
  virtual std::wstring UserDataFolder() { return {}; }
  // Text for an attached debugger; the POSIX backend appends it to the file
  // named by KORVEL_DEBUG_OUTPUT when that is set, else drops it.
  virtual void DebugOutput(const std::string& text) = 0;
  // Makes an existing named pipe (FIFO) the process's standard output.
  // Only pipes that already exist and have a reader are used.
  virtual bool RedirectStdoutToPipe(const std::wstring& pipeName) = 0;
  virtual bool WriteStdout(const void* data, std::size_t length) = 0;

  // Pauses the calling thread.
  virtual void Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  // --- Threads -------------------------------------------------------------
  // Starts a native thread that runs entry(argument) and is never joined:
  // callers learn of its end through their own objects. stackSize 0 means
  // the system default. False (with the last error) when no thread starts.
  // The portable default uses the C++ library, which cannot choose a stack
  // size; the POSIX backend can.
  using ThreadEntry = void (*)(void* argument);
  virtual bool StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) {
    (void)stackSize;
    try {
      std::thread(entry, argument).detach();
      return true;
    } catch (const std::system_error&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
  }
  // Scheduling priority of a thread named by its ThreadId(), in the Windows
  // levels: -15 idle, -2 lowest ... 0 normal ... 2 highest, 15 time-critical.
  virtual bool SetThreadPriority(std::uint32_t threadId, int priority) {
    (void)threadId;
    (void)priority;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  virtual bool GetThreadPriority(std::uint32_t threadId, int& priority) {
    (void)threadId;
    priority = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  // Whether a process with this id exists and has not ended (a process that
  // has ended but was not reaped yet counts as ended).
  virtual bool IsProcessRunning(std::uint32_t processId) {
    (void)processId;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }

  // --- Named objects shared between processes --------------------------------
  // Names are free text (they may contain '/', '\' and ':'); mutexes and
  // shared memory blocks have separate name spaces. Both calls create the
  // object or open the existing one and set `existed` accordingly; an
  // existing object also leaves ERROR_ALREADY_EXISTS as the last error, as
  // on Windows. A new mutex created with initialOwner is returned locked by
  // the calling thread; an existing one is never locked by the call. A new
  // block of shared memory is zero-filled. Null on failure.
  virtual std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string& name, bool initialOwner,
                                                       bool& existed) {
    (void)name;
    (void)initialOwner;
    existed = false;
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  virtual std::unique_ptr<SharedMemory> CreateSharedMemory(const std::string& name, std::size_t size,
                                                           bool& existed) {
    (void)name;
    (void)size;
    existed = false;
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  // Opens an existing block (the view covers all of it); null with
  // ERROR_FILE_NOT_FOUND when there is none.
  virtual std::unique_ptr<SharedMemory> OpenSharedMemory(const std::string& name) {
    (void)name;
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  // A named mutex that processes share, or that its creator keeps to
  // itself. Exclusive: creates the mutex so that no other process can open
  // it, and fails with ERROR_ALREADY_EXISTS when it exists already. Shared:
  // creates the mutex or opens the existing one, and fails with
  // ERROR_ACCESS_DENIED when a process holds it exclusively. `created`
  // tells whether this call created it. The mutex is not locked by the
  // call. The default (NamedAccessMutex.cpp) records the access in a shared
  // memory block of the mutex's name, which needs the separate name spaces
  // of mutexes and blocks; Windows uses an empty access list instead.
  virtual std::unique_ptr<NamedMutex> OpenAccessMutex(const std::string& name, bool exclusive, bool& created);

  // --- Programs, network, terminal ----------------------------------------
  // Finds a program by name along PATH (a name with a separator is taken as
  // a path); false with ERROR_FILE_NOT_FOUND when there is none.
  virtual bool FindProgram(const std::string& name, std::string& path) {
    (void)name;
    (void)path;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  // Starts the program with the argument string as an administrator (the
  // shell's "runas" verb on Windows, which asks the user) and waits for it
  // without limit. False when the shell refused, for example because the
  // user declined; a backend without it fails with ERROR_NOT_SUPPORTED.
  virtual bool RunElevated(const std::wstring& program, const std::wstring& arguments) {
    (void)program;
    (void)arguments;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  // Starts the network stack (Winsock 2.2 on Windows; nothing to do on POSIX).
  virtual bool StartNetwork() { return true; }
  // Whether the descriptor (0, 1, 2) is a terminal.
  virtual bool IsTerminal(int fd) {
    (void)fd;
    return false;
  }
  // Calls the handler (from a signal context: it may only set flags) when
  // the user presses Ctrl-C.
  virtual bool InstallInterruptHandler(void (*handler)()) {
    (void)handler;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }

  // --- Fatal faults -------------------------------------------------------
  // Whether a debugger is attached to the process.
  virtual bool DebuggerAttached() { return false; }
  // Sends segmentation faults, bus errors, illegal instructions, arithmetic
  // faults and aborts of every thread to the handler, on an alternate stack.
  // The handler gets the fault: signal, faulting address, faulting thread
  // and the machine context the backend's crash calls below understand. A
  // fault raised while the handler runs on the same thread ends the process
  // at once with status 255, so a broken handler can neither hang nor loop.
  using FatalSignalHandler = void (*)(const FatalFault& fault);
  virtual bool InstallFatalSignalHandler(FatalSignalHandler handler) {
    (void)handler;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  virtual void RestoreFatalSignalDefaults() {}
  // Creates (replacing) a file at a native path and writes the bytes, using
  // only calls that are safe inside a signal handler.
  virtual bool WriteCrashFile(const char* nativePath, const void* data, std::size_t length) {
    (void)nativePath;
    (void)data;
    (void)length;
    return false;
  }
  // The crash calls below only use calls that are safe inside a signal
  // handler: no allocation, no locks, no stdio.
  // Writes a minidump (the MDMP file format debuggers read) of the whole
  // process for the fault: system information, every thread's registers
  // and stack, the loaded modules with their build ids, and the memory
  // around the faulting instruction.
  virtual bool WriteMinidump(const char* nativePath, const FatalFault& fault) {
    (void)nativePath;
    (void)fault;
    return false;
  }
  // The loaded modules (executable and shared objects) in address order;
  // returns how many were found, at most `capacity` are stored.
  virtual std::size_t LoadedModules(LoadedModule* modules, std::size_t capacity) {
    (void)modules;
    (void)capacity;
    return 0;
  }
  // The registers of the fault's context, formatted as text lines ending in
  // "\r\n" under this machine's register names; returns the length.
  virtual std::size_t FormatFaultRegisters(const FatalFault& fault, char* out, std::size_t capacity) {
    (void)fault;
    if (capacity > 0) out[0] = '\0';
    return 0;
  }
  // Copies memory that may be unmapped; false (nothing copied) when any
  // byte of the range cannot be read.
  virtual bool ReadMemorySafely(std::uintptr_t address, void* out, std::size_t length) {
    (void)address;
    (void)out;
    (void)length;
    return false;
  }
  // The highest address of the stack that holds `stackPointer` (the end of
  // its mapping); 0 when unknown.
  virtual std::uintptr_t StackBase(std::uintptr_t stackPointer) {
    (void)stackPointer;
    return 0;
  }
  // The running system, memory figures and the user, for reports.
  virtual bool DescribeSystem(SystemDescription& description) {
    (void)description;
    return false;
  }
  // Starts a program from a fault path (argv[0] is its path); no handles
  // are inherited, no waiting. True when it started.
  virtual bool StartProgramFromFault(const char* path, char* const* argv) {
    (void)path;
    (void)argv;
    return false;
  }
  // A crash file written piece by piece (signal-safe): created replacing
  // any old one; -1 when it cannot be created.
  virtual int CreateCrashFile(const char* nativePath) {
    (void)nativePath;
    return -1;
  }
  virtual bool AppendCrashFile(int file, const void* data, std::size_t length) {
    (void)file;
    (void)data;
    (void)length;
    return false;
  }
  virtual void CloseCrashFile(int file) { (void)file; }
  // Whether something exists at a native path (signal-safe).
  virtual bool NativePathExists(const char* nativePath) {
    (void)nativePath;
    return false;
  }
  // Gives the calling thread a stack of its own for the fatal-fault
  // handler, so a fault that used up the thread's stack can still be
  // reported. Released when the thread ends. Threads the platform starts
  // get one; other threads that may fault call this first.
  virtual bool UseFaultStackOnThisThread() { return false; }
  // The calling thread's return addresses, innermost first (the caller of
  // this function first); returns how many were stored.
  virtual std::size_t CaptureCallStack(std::uintptr_t* frames, std::size_t capacity) {
    (void)frames;
    (void)capacity;
    return 0;
  }
  // Symbol handling for the loaded modules; nullptr when it cannot be set
  // up. Not for signal handlers.
  virtual std::unique_ptr<SymbolLookup> OpenSymbolLookup() { return nullptr; }
  // Console control events (interrupt, terminal closed, terminate; their
  // control types 0, 2 and 6) go to the handler on a thread of their own.
  // A handler that returns false lets the event's default action end the
  // process. nullptr restores the default handling.
  using ConsoleControlHandler = bool (*)(int controlType);
  virtual bool InstallConsoleControlHandler(ConsoleControlHandler handler) {
    (void)handler;
    return false;
  }
  // Writes a minidump of another, running process (stopped while it is
  // written) in the same format as WriteMinidump, without an exception.
  virtual bool WriteProcessMinidump(std::uint32_t processId, const char* nativePath) {
    (void)processId;
    (void)nativePath;
    return false;
  }
  // Ends the process at once with the exit code, running no clean-up.
  [[noreturn]] virtual void ExitImmediately(int exitCode) { std::_Exit(exitCode); }
  // Ends the process as an outside kill would (SIGKILL on POSIX): no
  // handler, no clean-up, no flushing.
  [[noreturn]] virtual void KillSelf() { std::abort(); }
};

// The platform in use. The first call creates the native backend, wrapped in
// a fault injector when KORVEL_FAULTS is set (see FaultInjection.h).
Platform& Current();
// Installs a platform (tests); returns the previous one. Not owned.
Platform* Install(Platform* platform);
// The native backend, never wrapped.
Platform& Native();

// Hands the interrupt (Ctrl-C) to every child started with a pipe that has
// not been waited for yet, as the terminal would had they shared its
// Ctrl-C: for a program that ends at once and must not leave its tools
// running. Safe inside a signal handler.
void InterruptChildProcesses();

// Splits a Windows command line into arguments with the rules of the
// Windows C runtime (quotes, backslashes before quotes).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The characters that separate the components of a native path.
#ifdef _WIN32
inline constexpr char kNativeSeparators[] = "\\/";
#else
inline constexpr char kNativeSeparators[] = "/";
#endif

// UTF-8 for native names (the backend's encoding of wide paths).
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace OS

#ifdef _WIN32
// The system's own names for the codes above, for code outside namespace OS
// (the system headers, asio): constants with the system's values, and
// macros naming themselves so that "#ifdef ERROR_..." still holds.
inline constexpr long ERROR_SUCCESS = static_cast<long>(OS::ERROR_SUCCESS);
inline constexpr long ERROR_FILE_NOT_FOUND = static_cast<long>(OS::ERROR_FILE_NOT_FOUND);
inline constexpr long ERROR_PATH_NOT_FOUND = static_cast<long>(OS::ERROR_PATH_NOT_FOUND);
inline constexpr long ERROR_ACCESS_DENIED = static_cast<long>(OS::ERROR_ACCESS_DENIED);
inline constexpr long ERROR_NOT_ENOUGH_MEMORY = static_cast<long>(OS::ERROR_NOT_ENOUGH_MEMORY);
inline constexpr long ERROR_WRITE_FAULT = static_cast<long>(OS::ERROR_WRITE_FAULT);
inline constexpr long ERROR_READ_FAULT = static_cast<long>(OS::ERROR_READ_FAULT);
inline constexpr long ERROR_SHARING_VIOLATION = static_cast<long>(OS::ERROR_SHARING_VIOLATION);
inline constexpr long ERROR_HANDLE_DISK_FULL = static_cast<long>(OS::ERROR_HANDLE_DISK_FULL);
inline constexpr long ERROR_NOT_SUPPORTED = static_cast<long>(OS::ERROR_NOT_SUPPORTED);
inline constexpr long ERROR_FILE_EXISTS = static_cast<long>(OS::ERROR_FILE_EXISTS);
inline constexpr long ERROR_INVALID_PARAMETER = static_cast<long>(OS::ERROR_INVALID_PARAMETER);
inline constexpr long ERROR_DISK_FULL = static_cast<long>(OS::ERROR_DISK_FULL);
inline constexpr long ERROR_DIR_NOT_EMPTY = static_cast<long>(OS::ERROR_DIR_NOT_EMPTY);
inline constexpr long ERROR_ALREADY_EXISTS = static_cast<long>(OS::ERROR_ALREADY_EXISTS);
inline constexpr long ERROR_INVALID_HANDLE = static_cast<long>(OS::ERROR_INVALID_HANDLE);
inline constexpr long ERROR_NOT_SAME_DEVICE = static_cast<long>(OS::ERROR_NOT_SAME_DEVICE);
inline constexpr long ERROR_GEN_FAILURE = static_cast<long>(OS::ERROR_GEN_FAILURE);
inline constexpr long ERROR_CALL_NOT_IMPLEMENTED = static_cast<long>(OS::ERROR_CALL_NOT_IMPLEMENTED);
inline constexpr long ERROR_NOT_OWNER = static_cast<long>(OS::ERROR_NOT_OWNER);
#define ERROR_SUCCESS ERROR_SUCCESS
#define ERROR_FILE_NOT_FOUND ERROR_FILE_NOT_FOUND
#define ERROR_PATH_NOT_FOUND ERROR_PATH_NOT_FOUND
#define ERROR_ACCESS_DENIED ERROR_ACCESS_DENIED
#define ERROR_NOT_ENOUGH_MEMORY ERROR_NOT_ENOUGH_MEMORY
#define ERROR_WRITE_FAULT ERROR_WRITE_FAULT
#define ERROR_READ_FAULT ERROR_READ_FAULT
#define ERROR_SHARING_VIOLATION ERROR_SHARING_VIOLATION
#define ERROR_HANDLE_DISK_FULL ERROR_HANDLE_DISK_FULL
#define ERROR_NOT_SUPPORTED ERROR_NOT_SUPPORTED
#define ERROR_FILE_EXISTS ERROR_FILE_EXISTS
#define ERROR_INVALID_PARAMETER ERROR_INVALID_PARAMETER
#define ERROR_DISK_FULL ERROR_DISK_FULL
#define ERROR_DIR_NOT_EMPTY ERROR_DIR_NOT_EMPTY
#define ERROR_ALREADY_EXISTS ERROR_ALREADY_EXISTS
#define ERROR_INVALID_HANDLE ERROR_INVALID_HANDLE
#define ERROR_NOT_SAME_DEVICE ERROR_NOT_SAME_DEVICE
#define ERROR_GEN_FAILURE ERROR_GEN_FAILURE
#define ERROR_CALL_NOT_IMPLEMENTED ERROR_CALL_NOT_IMPLEMENTED
#define ERROR_NOT_OWNER ERROR_NOT_OWNER
#endif
