#include "KernelStandard/platform/posix/PosixFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <vector>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS::PosixFileCopy {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;
// The most one copy_file_range call is asked for; the kernel may do less.
constexpr std::size_t kKernelChunk = 1 << 30;

enum class KernelCopy { Done, Failed, Unavailable };

// Errors with which copy_file_range says it cannot copy between these two
// files at all (other file systems, an old kernel, a file system without
// support), as opposed to a real read or write failure.
bool KernelCopyUnavailable(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies with copy_file_range until the end of the source. Files whose size
// the kernel does not know (proc-like files) report end of data at once, so
// a copy that got no byte at all is handed to the buffered copy, which for
// a really empty file ends just as fast.
KernelCopy CopyInKernel(int source, int destination) {
  bool copiedAnything = false;
  while (true) {
    const ssize_t copied = ::copy_file_range(source, nullptr, destination, nullptr, kKernelChunk, 0);
    if (copied < 0 && errno == EINTR) continue;
    // A refusal after some bytes leaves both offsets where the buffered
    // copy has to go on.
    if (copied < 0) return KernelCopyUnavailable(errno) ? KernelCopy::Unavailable : KernelCopy::Failed;
    if (copied == 0) return copiedAnything ? KernelCopy::Done : KernelCopy::Unavailable;
    copiedAnything = true;
  }
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CopyThroughBuffer(int source, int destination) {
  std::vector<char> buffer(kBufferSize);
  while (true) {
    const ssize_t got = ::read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(destination, buffer.data(), static_cast<std::size_t>(got))) return false;
  }
}

// Why an open source cannot be copied to `to`: a folder, or the destination
// being the source itself.
int SourceProblem(int source, const std::string& to, struct stat& info) {
  if (::fstat(source, &info) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
  struct stat target;
  if (::stat(to.c_str(), &target) == 0 && target.st_dev == info.st_dev && target.st_ino == info.st_ino) {
    return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

int OpenDestination(const std::string& to, bool overwrite, mode_t mode) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
  return ::open(to.c_str(), flags, mode);
}

// The error errno names, or `fallback` when errno names none.
int ErrorFromErrnoOr(int fallback) {
  const int error = ErrorFromErrno(errno);
  return error == ERROR_SUCCESS ? fallback : error;
}

// Copies the bytes and the permission bits, closes the destination and
// returns the error that stopped it (ERROR_SUCCESS when all went well).
int FillDestination(int source, int destination, mode_t mode) {
  int error = CopyDescriptorBytes(source, destination) ? ERROR_SUCCESS : ErrorFromErrnoOr(ERROR_WRITE_FAULT);
  if (::fchmod(destination, mode) != 0 && error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
  if (::close(destination) != 0 && error == ERROR_SUCCESS) error = ErrorFromErrnoOr(ERROR_WRITE_FAULT);
  return error;
}

}  // namespace

bool CopyDescriptorBytes(int source, int destination) {
  switch (CopyInKernel(source, destination)) {
    case KernelCopy::Done:
      return true;
    case KernelCopy::Failed:
      return false;
    case KernelCopy::Unavailable:
      break;
  }
  return CopyThroughBuffer(source, destination);
}

bool CopyRegularFile(const std::string& from, const std::string& to, bool overwrite) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return FailFromErrno();
  struct stat info;
  const int problem = SourceProblem(source, to, info);
  if (problem != ERROR_SUCCESS) {
    ::close(source);
    return FailWith(problem);
  }
  const mode_t mode = info.st_mode & 07777;
  const int destination = OpenDestination(to, overwrite, mode);
  if (destination < 0) {
    const int openError = (errno == EEXIST) ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
    ::close(source);
    return FailWith(openError);
  }
  const int error = FillDestination(source, destination, mode);
  ::close(source);
  if (error == ERROR_SUCCESS) return true;
  ::unlink(to.c_str());
  return FailWith(error);
}

}  // namespace OS::PosixFileCopy
