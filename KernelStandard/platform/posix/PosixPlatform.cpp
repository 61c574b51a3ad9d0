// POSIX backend: the native platform object and the file-system members.
//
// The read-only flag of a file is the absence of every write permission bit.
// As on Windows, a file carrying it can neither be deleted nor opened or
// replaced for writing, even by a privileged process.
//
// ReplaceFile is rename(2), which swaps the name over to the new file in one
// step; unlike MoveFile it never falls back to a copy, since a copy across
// file systems could not be atomic.
#include "KernelStandard/platform/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "KernelStandard/platform/posix/PosixCrash.h"
#include "KernelStandard/platform/posix/PosixFileCopy.h"
#include "KernelStandard/platform/posix/PosixFileInUse.h"
#include "KernelStandard/platform/posix/PosixPaths.h"

namespace OS {
namespace {

constexpr mode_t kAllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool HasReadOnlyFlag(const struct stat& info) {
  return (info.st_mode & kAllWriteBits) == 0;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && HasReadOnlyFlag(info);
}

// A symbolic link has no read-only flag of its own: removing or replacing
// the link leaves its target alone, so the target's flag does not count.
bool IsReadOnlyEntry(const std::string& path) {
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return false;
  return IsReadOnlyFile(path);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectoryPath(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// Moves without replacing on file systems that lack RENAME_NOREPLACE.
bool MoveWithoutNoReplace(const std::string& from, const std::string& to) {
  if (IsDirectoryPath(from)) {
    if (PathExists(to)) return FailWith(ERROR_ALREADY_EXISTS);
    return ::rename(from.c_str(), to.c_str()) == 0 || FailFromErrno();
  }
  if (::link(from.c_str(), to.c_str()) != 0) return FailFromErrno();
  ::unlink(from.c_str());
  return true;
}

// Moves a file to another file system: copy, then remove the source.
bool MoveAcrossDevices(const std::string& from, const std::string& to) {
  if (IsDirectoryPath(from)) return FailWith(ERROR_ACCESS_DENIED);
  if (!PosixFileCopy::CopyRegularFile(from, to, false)) return false;
  if (::unlink(from.c_str()) == 0) return true;
  const int error = ErrorFromErrno(errno);
  ::unlink(to.c_str());
  return FailWith(error);
}

// Forces a rename in the folder holding `path` to the disk, so the new name
// survives a crash. Best effort: the rename itself has already happened.
void SyncParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool LessIgnoringCase(const DirEntry& a, const DirEntry& b) {
  const auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; };
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [&](wchar_t x, wchar_t y) { return lower(x) < lower(y); });
}

// Fills in what the listing entry is; the file system's entry type answers
// without a status call except for links and file systems that leave it out.
DirEntry ListedEntry(const std::string& folder, const dirent& entry) {
  DirEntry listed{FromUtf8(entry.d_name), entry.d_type == DT_DIR, entry.d_type == DT_LNK};
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return listed;
  const std::string full = folder + "/" + entry.d_name;
  struct stat info;
  if (entry.d_type == DT_UNKNOWN && ::lstat(full.c_str(), &info) == 0)
    listed.isSymbolicLink = S_ISLNK(info.st_mode);
  listed.isDirectory = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return listed;
}

}  // namespace

Platform& Native() {
  static PosixPlatform platform;
  return platform;
}

std::string PosixPlatform::NativePath(const std::wstring& path) {
  return PosixPaths::ResolveCase(PosixPaths::ToNativeText(path));
}

// The exact name is tried first: one lstat answers for an existing file
// that is not a link, which is what a scan of an installation meets. Only a
// missing name pays for the case-insensitive lookup.
bool PosixPlatform::Stat(const std::wstring& path, FileInfo& info) {
  std::string native = PosixPaths::ToNativeText(path);
  struct stat entry;
  if (::lstat(native.c_str(), &entry) != 0) {
    native = PosixPaths::ResolveCase(native);
    if (::lstat(native.c_str(), &entry) != 0) return FailFromErrno();
  }
  info.isSymbolicLink = S_ISLNK(entry.st_mode);
  struct stat target = entry;
  if (info.isSymbolicLink && ::stat(native.c_str(), &target) != 0) return FailFromErrno();
  info.isDirectory = S_ISDIR(target.st_mode);
  info.readOnly = HasReadOnlyFlag(target);
  info.size = static_cast<std::uint64_t>(target.st_size);
  info.modifiedTime = static_cast<std::int64_t>(target.st_mtime);
  info.permissions = static_cast<std::uint32_t>(target.st_mode & 07777);
  return true;
}

bool PosixPlatform::IsSymbolicLink(const std::wstring& path) {
  struct stat entry;
  return ::lstat(NativePath(path).c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
}

bool PosixPlatform::Exists(const std::wstring& path) {
  if (PathExists(NativePath(path))) return true;
  return FailFromErrno();
}

bool PosixPlatform::SetReadOnlyFlag(const std::wstring& path, bool readOnly) {
  const std::string native = NativePath(path);
  struct stat info;
  if (::stat(native.c_str(), &info) != 0) return FailFromErrno();
  const mode_t mode = readOnly ? (info.st_mode & ~kAllWriteBits) : (info.st_mode | S_IWUSR);
  return ::chmod(native.c_str(), mode & 07777) == 0 || FailFromErrno();
}

bool PosixPlatform::SetPermissions(const std::wstring& path, std::uint32_t permissions) {
  return ::chmod(NativePath(path).c_str(), static_cast<mode_t>(permissions & 07777)) == 0 || FailFromErrno();
}

bool PosixPlatform::CreateDirectory(const std::wstring& path) {
  return ::mkdir(NativePath(path).c_str(), 0777) == 0 || FailFromErrno();
}

bool PosixPlatform::RemoveDirectory(const std::wstring& path) {
  return ::rmdir(NativePath(path).c_str()) == 0 || FailFromErrno();
}

bool PosixPlatform::DeleteFile(const std::wstring& path) {
  const std::string native = NativePath(path);
  // A link goes on its own, whatever it names; what it names stays.
  struct stat entry;
  if (::lstat(native.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
    return ::unlink(native.c_str()) == 0 || FailFromErrno();
  }
  if (IsDirectoryPath(native)) return FailWith(ERROR_ACCESS_DENIED);
  if (IsReadOnlyEntry(native)) return FailWith(ERROR_ACCESS_DENIED);
  return ::unlink(native.c_str()) == 0 || FailFromErrno();
}

bool PosixPlatform::MoveFile(const std::wstring& from, const std::wstring& to) {
  const std::string source = NativePath(from);
  const std::string destination = NativePath(to);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EINVAL || errno == ENOSYS) return MoveWithoutNoReplace(source, destination);
  if (errno == EXDEV) return MoveAcrossDevices(source, destination);
  return FailFromErrno();
}

bool PosixPlatform::ReplaceFile(const std::wstring& from, const std::wstring& to) {
  const std::string source = NativePath(from);
  const std::string destination = NativePath(to);
  if (IsDirectoryPath(destination) || IsReadOnlyFile(destination)) return FailWith(ERROR_ACCESS_DENIED);
  if (::rename(source.c_str(), destination.c_str()) != 0) {
    return errno == EXDEV ? FailWith(ERROR_NOT_SAME_DEVICE) : FailFromErrno();
  }
  SyncParentFolder(destination);
  return true;
}

bool PosixPlatform::CopyFile(const std::wstring& from, const std::wstring& to, bool overwrite) {
  const std::string destination = NativePath(to);
  if (overwrite && IsReadOnlyFile(destination)) return FailWith(ERROR_ACCESS_DENIED);
  return PosixFileCopy::CopyRegularFile(NativePath(from), destination, overwrite);
}

bool PosixPlatform::IsFileInUse(const std::wstring& path) {
  return PosixFileInUse::IsOpenElsewhere(NativePath(path));
}

bool PosixPlatform::ListDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  const std::string folder = NativePath(path);
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return FailFromErrno();
  entries.clear();
  while (const dirent* entry = ::readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    entries.push_back(ListedEntry(folder, *entry));
  }
  ::closedir(listing);
  std::sort(entries.begin(), entries.end(), LessIgnoringCase);
  return true;
}

bool PosixPlatform::GetFreeBytes(const std::wstring& path, std::uint64_t& freeBytes) {
  struct statvfs info;
  if (::statvfs(NativePath(path).c_str(), &info) != 0) return FailFromErrno();
  freeBytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

bool PosixPlatform::SetCurrentDirectory(const std::wstring& path) {
  return ::chdir(NativePath(path).c_str()) == 0 || FailFromErrno();
}

std::wstring PosixPlatform::GetCurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      FailFromErrno();
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
  return FromUtf8(buffer.data());
}

// --- Programs, network, terminal ---------------------------------------------

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void (*g_interruptHandler)() = nullptr;
Platform::FatalSignalHandler g_fatalSignalHandler = nullptr;
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

void OnInterruptSignal(int) {
  if (g_interruptHandler != nullptr) g_interruptHandler();
}

// Set while this thread runs the fatal-fault handler: a second fault on
// the same thread means the handler itself broke, and the process ends at
// once. Faults on other threads meanwhile enter the handler too; the
// handler decides which of them goes on.
thread_local bool t_inFaultHandler = false;
constexpr int kBrokenHandlerExitCode = 255;

FatalFault DescribeFault(int signalNumber, const siginfo_t* info, const void* context) {
  FatalFault fault;
  fault.signalNumber = signalNumber;
  fault.signalCode = info != nullptr ? info->si_code : 0;
  fault.address = info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
  fault.threadId = static_cast<std::uint32_t>(::gettid());
  fault.context = context;
  FillFaultRegisters(fault);
  return fault;
}

// Hands the fault to the registered handler; should that return, the signal
// takes its default action (the process ends with the signal).
void OnFatalSignal(int signalNumber, siginfo_t* info, void* context) {
  if (t_inFaultHandler) ::_exit(kBrokenHandlerExitCode);
  t_inFaultHandler = true;
  EnterFaultHandler(static_cast<std::uint32_t>(::gettid()), context);
  const Platform::FatalSignalHandler handler = g_fatalSignalHandler;
  if (handler != nullptr) handler(DescribeFault(signalNumber, info, context));
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

}  // namespace

bool PosixPlatform::FindProgram(const std::string& name, std::string& path) {
  if (name.empty()) return FailWith(ERROR_INVALID_PARAMETER);
  if (name.find('/') != std::string::npos) {
    if (!IsExecutableFile(name)) return FailWith(ERROR_FILE_NOT_FOUND);
    path = name;
    return true;
  }
  const char* searchPath = std::getenv("PATH");
  std::string folders = searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) {
      path = candidate;
      return true;
    }
    start = end + 1;
  }
  return FailWith(ERROR_FILE_NOT_FOUND);
}

bool PosixPlatform::StartNetwork() {
  return true;
}

bool PosixPlatform::IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}

bool PosixPlatform::InstallInterruptHandler(void (*handler)()) {
  g_interruptHandler = handler;
  struct sigaction action {};
  action.sa_handler = OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  return ::sigaction(SIGINT, &action, nullptr) == 0 || FailFromErrno();
}

// --- Fatal faults --------------------------------------------------------------

bool PosixPlatform::DebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
  }
  return false;
}

bool PosixPlatform::InstallFatalSignalHandler(FatalSignalHandler handler) {
  g_fatalSignalHandler = handler;
  // The handler runs on its own stack, so a stack overflow can still be
  // reported; this covers the installing thread, the platform's threads
  // get theirs as they start.
  SetFaultStacksWanted();
  if (!UseFaultStackOnThisThread()) return FailFromErrno();
  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  // SA_NODEFER: a fault inside the handler reaches it again and ends the
  // process, instead of the kernel killing it without a word.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  // A thread in the handler does not answer another thread's snapshot of
  // the process (its fault context is used instead).
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, ThreadSnapshotSignal());
  if (!InstallThreadSnapshotHandler()) return FailFromErrno();
  for (const int signalNumber : kFatalSignals) {
    if (::sigaction(signalNumber, &action, nullptr) != 0) return FailFromErrno();
  }
  return true;
}

void PosixPlatform::RestoreFatalSignalDefaults() {
  for (const int signalNumber : kFatalSignals) ::signal(signalNumber, SIG_DFL);
  g_fatalSignalHandler = nullptr;
}

bool PosixPlatform::WriteCrashFile(const char* nativePath, const void* data, std::size_t length) {
  const int fd = ::open(nativePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, static_cast<const char*>(data), length);
  return ::close(fd) == 0 && written;
}

int PosixPlatform::CreateCrashFile(const char* nativePath) {
  return ::open(nativePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_SYNC, 0644);
}

bool PosixPlatform::AppendCrashFile(int file, const void* data, std::size_t length) {
  return WriteAll(file, static_cast<const char*>(data), length);
}

void PosixPlatform::CloseCrashFile(int file) {
  ::close(file);
}

void PosixPlatform::ExitImmediately(int exitCode) {
  ::_exit(exitCode);
}

void PosixPlatform::KillSelf() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);  // not reached: SIGKILL cannot be caught
}

}  // namespace OS
