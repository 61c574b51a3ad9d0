#include "KernelStandard/platform/RegistryStoreFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "KernelStandard/platform/FaultInjectingPlatform.h"
#include "KernelStandard/platform/Platform.h"

namespace OS::RegistryStoreFile {
namespace {

// Larger stores are refused rather than read into memory.
constexpr off_t kMaximumStoreSize = 64 * 1024 * 1024;
constexpr mode_t kAllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool Fail(int error) {
  SetLastError(error);
  return false;
}

bool FailFromErrno() {
  return Fail(ErrorFromErrno(errno));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WritableEntry(const std::string& path, int access) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & kAllWriteBits) != 0 &&
         ::faccessat(AT_FDCWD, path.c_str(), access, AT_EACCESS) == 0;
}

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

mode_t ModeForNewStore(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Writes the temporary file; false (temporary removed) on failure.
bool WriteTemporary(const std::string& path, const std::string& content, std::string& temporary) {
  std::vector<char> name(path.begin(), path.end());
  const std::string suffix = ".XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  temporary = name.data();
  bool written = ::fchmod(fd, ModeForNewStore(path)) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  int error = written ? 0 : errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written) return true;
  ::unlink(temporary.c_str());
  return Fail(error != 0 ? ErrorFromErrno(error) : ERROR_WRITE_FAULT);
}

}  // namespace

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool ReadAll(const std::string& path, std::string& content) {
  content.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || FailFromErrno();
  struct stat info;
  if (::fstat(fd, &info) != 0 || info.st_size > kMaximumStoreSize) {
    ::close(fd);
    return Fail(ERROR_GEN_FAILURE);
  }
  char buffer[8192];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const bool complete = got == 0;
      ::close(fd);
      return complete || Fail(ERROR_READ_FAULT);
    }
    if (content.size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(kMaximumStoreSize)) {
      ::close(fd);
      return Fail(ERROR_GEN_FAILURE);
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

bool MayWrite(const std::string& path) {
  std::string folder = FolderOf(path);
  struct stat info;
  while (::stat(folder.c_str(), &info) != 0 && folder != "/" && folder != ".") folder = FolderOf(folder);
  if (!WritableEntry(folder, W_OK | X_OK)) return Fail(ERROR_ACCESS_DENIED);
  if (::stat(path.c_str(), &info) == 0 && !WritableEntry(path, W_OK)) return Fail(ERROR_ACCESS_DENIED);
  return true;
}

bool EnsureFolder(const std::string& path) {
  const std::string folder = FolderOf(path);
  struct stat info;
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) || Fail(ERROR_PATH_NOT_FOUND);
  if (folder == "/" || folder == ".") return Fail(ERROR_PATH_NOT_FOUND);
  if (!EnsureFolder(folder)) return false;
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST || FailFromErrno();
}

bool ReplaceAtomically(const std::string& path, const std::string& content) {
  std::string temporary;
  if (!WriteTemporary(path, content, temporary)) return false;
  if (InjectedFault("RegistryReplace", path)) {
    ::unlink(temporary.c_str());  // the rule has left its error as the last error
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = ErrorFromErrno(errno);
    ::unlink(temporary.c_str());
    return Fail(error);
  }
  SyncFolder(FolderOf(path));
  return true;
}

WriterLock::WriterLock(const std::string& storePath) {
  const std::string lockPath = storePath + ".lock";
  m_fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (m_fd < 0) {
    FailFromErrno();
    return;
  }
  while (::flock(m_fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    FailFromErrno();
    ::close(m_fd);
    m_fd = -1;
    return;
  }
}

WriterLock::~WriterLock() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace OS::RegistryStoreFile
