// POSIX backend: buffered streams and raw descriptors. Every descriptor is
// opened close-on-exec, so child programs never inherit the program's files
// (which would also make them look in use).
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

constexpr mode_t kAllWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      return O_RDONLY;
    case OpenMode::ReadWrite:
      return O_RDWR;
    case OpenMode::CreateTruncate:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::CreateReadWrite:
      return O_RDWR | O_CREAT;
    case OpenMode::CreateExclusive:
      return O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
  }
  return O_RDONLY;
}

const char* StdioMode(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      return "rb";
    case OpenMode::CreateTruncate:
    case OpenMode::CreateExclusive:
      return "wb";
    case OpenMode::ReadWrite:
    case OpenMode::CreateReadWrite:
      return "r+b";
  }
  return "rb";
}

// Exclusive files are temporary ones of this user alone; the others get
// the usual permissions less the umask.
mode_t CreationMode(OpenMode mode) {
  return mode == OpenMode::CreateExclusive ? 0600 : 0666;
}

// A file without any write bit carries the read-only flag and is refused
// for writing, as Windows does for every user.
bool RefusedForWriting(const std::string& path, OpenMode mode) {
  if (mode == OpenMode::Read || mode == OpenMode::CreateExclusive) return false;
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & kAllWriteBits) == 0;
}

int OpenNative(const std::string& path, OpenMode mode) {
  if (RefusedForWriting(path, mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, CreationMode(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailFromErrno();
    return -1;
  }
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

// errno as a system error, with a read or write fault for plain I/O errors.
int IoError(int fallback) {
  const int error = ErrorFromErrno(errno);
  return (error == ERROR_GEN_FAILURE || error == ERROR_SUCCESS) ? fallback : error;
}

bool FitsOffset(std::uint64_t value) {
  return value <= static_cast<std::uint64_t>(INT64_MAX);
}

}  // namespace

std::FILE* PosixPlatform::OpenStream(const std::wstring& path, OpenMode mode) {
  const int fd = OpenNative(NativePath(path), mode);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, StdioMode(mode));
  if (stream == nullptr) {
    FailFromErrno();
    ::close(fd);
  }
  return stream;
}

std::size_t PosixPlatform::ReadStream(std::FILE* stream, void* data, std::size_t length) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t got = std::fread(data, 1, length, stream);
  if (got < length && std::ferror(stream)) SetLastError(IoError(ERROR_READ_FAULT));
  return got;
}

std::size_t PosixPlatform::WriteStream(std::FILE* stream, const void* data, std::size_t length) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t written = std::fwrite(data, 1, length, stream);
  if (written < length) SetLastError(IoError(ERROR_WRITE_FAULT));
  return written;
}

bool PosixPlatform::SeekStream(std::FILE* stream, std::uint64_t position) {
  if (stream == nullptr || !FitsOffset(position)) return FailWith(ERROR_INVALID_PARAMETER);
  return ::fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0 || FailFromErrno();
}

bool PosixPlatform::StreamLength(std::FILE* stream, std::uint64_t& length) {
  if (stream == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  struct stat info;
  if (std::fflush(stream) != 0 || ::fstat(::fileno(stream), &info) != 0) return FailFromErrno();
  length = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool PosixPlatform::TruncateStream(std::FILE* stream, std::uint64_t length) {
  if (stream == nullptr || !FitsOffset(length)) return FailWith(ERROR_INVALID_PARAMETER);
  if (std::fflush(stream) != 0) return FailFromErrno();
  return ::ftruncate(::fileno(stream), static_cast<off_t>(length)) == 0 || FailFromErrno();
}

bool PosixPlatform::FlushStream(std::FILE* stream, bool commit) {
  if (stream == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (std::fflush(stream) != 0) return FailFromErrno();
  return !commit || ::fsync(::fileno(stream)) == 0 || FailFromErrno();
}

void PosixPlatform::CloseStream(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}

int PosixPlatform::OpenDescriptor(const std::wstring& path, OpenMode mode) {
  return OpenNative(NativePath(path), mode);
}

long PosixPlatform::ReadDescriptor(int fd, void* data, std::size_t length) {
  ssize_t got;
  do {
    got = ::read(fd, data, length);
  } while (got < 0 && errno == EINTR);
  if (got < 0) FailFromErrno();
  return static_cast<long>(got);
}

long PosixPlatform::WriteDescriptor(int fd, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t written = ::write(fd, bytes + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      FailFromErrno();
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += static_cast<std::size_t>(written);
  }
  return static_cast<long>(done);
}

bool PosixPlatform::SeekDescriptor(int fd, std::uint64_t position) {
  if (!FitsOffset(position)) return FailWith(ERROR_INVALID_PARAMETER);
  return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) >= 0 || FailFromErrno();
}

void PosixPlatform::CloseDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace OS
