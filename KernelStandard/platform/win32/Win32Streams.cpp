// Streams and descriptors over CreateFileW handles. Readers let others read
// and write (as the C runtime does), writers let others only read, and a new
// exclusive file is shared with no one: a file that another program holds
// open without sharing is refused with ERROR_SHARING_VIOLATION, and a file
// with the read-only attribute cannot be opened for writing. The handles
// become C runtime descriptors, so stdio buffers the streams as elsewhere.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

struct OpenRequest {
  DWORD access;
  DWORD share;
  DWORD disposition;
  int runtimeFlags;
  const wchar_t* stdioMode;
};

OpenRequest RequestFor(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, _O_RDONLY, L"rb"};
    case OpenMode::ReadWrite:
      return {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, _O_RDWR, L"r+b"};
    case OpenMode::CreateTruncate:
      return {GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, _O_WRONLY, L"wb"};
    case OpenMode::CreateReadWrite:
      return {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, _O_RDWR, L"r+b"};
    case OpenMode::CreateExclusive:
      return {GENERIC_WRITE, 0, CREATE_NEW, _O_WRONLY, L"wb"};
  }
  return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, _O_RDONLY, L"rb"};
}

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

HANDLE HandleOf(std::FILE* stream) {
  return HandleOf(::_fileno(stream));
}

int OpenNative(const std::wstring& path, OpenMode mode) {
  const OpenRequest request = RequestFor(mode);
  // A new exclusive file is the owner's alone: it inherits the access
  // rights of its folder and is never opened through an existing name.
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (mode == OpenMode::CreateExclusive ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle = ::CreateFileW(Win32Paths::ToNative(path).c_str(), request.access, request.share, nullptr,
                                request.disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (mode == OpenMode::CreateExclusive && error == ERROR_FILE_EXISTS) {
      FailWith(ERROR_ALREADY_EXISTS);
    } else {
      FailFromSystem();
    }
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), request.runtimeFlags | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  return fd;
}

int IoError(int fallback) {
  const DWORD error = ::GetLastError();
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return ERROR_DISK_FULL;
  if (errno == ENOSPC) return ERROR_DISK_FULL;
  return fallback;
}

bool FitsOffset(std::uint64_t value) {
  return value <= static_cast<std::uint64_t>(INT64_MAX);
}

}  // namespace

std::FILE* Win32Platform::OpenStream(const std::wstring& path, OpenMode mode) {
  const int fd = OpenNative(path, mode);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::_wfdopen(fd, RequestFor(mode).stdioMode);
  if (stream == nullptr) {
    SetLastError(ErrorFromErrno(errno));
    ::_close(fd);
  }
  return stream;
}

std::size_t Win32Platform::ReadStream(std::FILE* stream, void* data, std::size_t length) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t got = std::fread(data, 1, length, stream);
  if (got < length && std::ferror(stream)) SetLastError(IoError(ERROR_READ_FAULT));
  return got;
}

std::size_t Win32Platform::WriteStream(std::FILE* stream, const void* data, std::size_t length) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t written = std::fwrite(data, 1, length, stream);
  if (written < length) SetLastError(IoError(ERROR_WRITE_FAULT));
  return written;
}

bool Win32Platform::SeekStream(std::FILE* stream, std::uint64_t position) {
  if (stream == nullptr || !FitsOffset(position)) return FailWith(ERROR_INVALID_PARAMETER);
  return ::_fseeki64(stream, static_cast<__int64>(position), SEEK_SET) == 0 ||
         FailWith(ErrorFromErrno(errno));
}

bool Win32Platform::StreamLength(std::FILE* stream, std::uint64_t& length) {
  if (stream == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (std::fflush(stream) != 0) return FailWith(IoError(ERROR_WRITE_FAULT));
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(HandleOf(stream), &size)) return FailFromSystem();
  length = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

bool Win32Platform::TruncateStream(std::FILE* stream, std::uint64_t length) {
  if (stream == nullptr || !FitsOffset(length)) return FailWith(ERROR_INVALID_PARAMETER);
  const __int64 position = ::_ftelli64(stream);
  if (position < 0 || std::fflush(stream) != 0) return FailWith(IoError(ERROR_WRITE_FAULT));
  HANDLE handle = HandleOf(stream);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(length);
  if (!::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle))
    return FailFromSystem();
  // The stream's position stays where it was, as with ftruncate.
  return ::_fseeki64(stream, position, SEEK_SET) == 0 || FailWith(ErrorFromErrno(errno));
}

bool Win32Platform::FlushStream(std::FILE* stream, bool commit) {
  if (stream == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (std::fflush(stream) != 0) return FailWith(IoError(ERROR_WRITE_FAULT));
  if (!commit) return true;
  HANDLE handle = HandleOf(stream);
  if (::FlushFileBuffers(handle)) return true;
  if (::GetLastError() != ERROR_ACCESS_DENIED) return FailFromSystem();
  // The system commits only through a handle with write access, and a
  // stream opened for reading has none: a second handle to the same file
  // with write access commits it (the file itself is left as it is).
  HANDLE writable =
      ::ReOpenFile(handle, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (writable == INVALID_HANDLE_VALUE) return FailFromSystem();
  const bool committed = ::FlushFileBuffers(writable) || FailFromSystem();
  ::CloseHandle(writable);
  return committed;
}

void Win32Platform::CloseStream(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}

int Win32Platform::OpenDescriptor(const std::wstring& path, OpenMode mode) {
  return OpenNative(path, mode);
}

long Win32Platform::ReadDescriptor(int fd, void* data, std::size_t length) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  DWORD got = 0;
  const DWORD wanted = length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(length);
  if (!::ReadFile(handle, data, wanted, &got, nullptr)) {
    // The write end of a pipe was closed: the end of the data.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
    FailFromSystem();
    return -1;
  }
  return static_cast<long>(got);
}

long Win32Platform::WriteDescriptor(int fd, const void* data, std::size_t length) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < length) {
    const std::size_t rest = length - done;
    const DWORD chunk = rest > 0x40000000 ? 0x40000000 : static_cast<DWORD>(rest);
    DWORD written = 0;
    if (!::WriteFile(handle, bytes + done, chunk, &written, nullptr) || written == 0) {
      FailFromSystem();
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += written;
  }
  return static_cast<long>(done);
}

bool Win32Platform::SeekDescriptor(int fd, std::uint64_t position) {
  if (!FitsOffset(position)) return FailWith(ERROR_INVALID_PARAMETER);
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) return FailWith(ERROR_INVALID_HANDLE);
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(handle, target, nullptr, FILE_BEGIN) || FailFromSystem();
}

void Win32Platform::CloseDescriptor(int fd) {
  if (fd >= 0) ::_close(fd);
}

}  // namespace OS
