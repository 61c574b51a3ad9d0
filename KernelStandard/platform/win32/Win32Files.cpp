// Files and folders with the system's own semantics: a read-only file
// cannot be deleted or replaced, a file that another program holds open
// without sharing cannot be opened, renames are MoveFileExW.
#include <algorithm>
#include <vector>

#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

std::int64_t UnixSeconds(const FILETIME& time) {
  const std::int64_t ticks =
      (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | static_cast<std::int64_t>(time.dwLowDateTime);
  return (ticks - kEpochDifference) / 10000000LL;
}

std::wstring Native(const std::wstring& path) {
  return Win32Paths::ToNative(path);
}

std::wstring NativeFolder(const std::wstring& path) {
  return Win32Paths::ToNative(Win32Paths::WithoutTrailingSeparator(path));
}

void FillInfo(DWORD attributes, std::uint64_t size, const FILETIME& written, FileInfo& info) {
  info.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.size = info.isDirectory ? 0 : size;
  info.modifiedTime = UnixSeconds(written);
  info.permissions = info.readOnly ? 0444 : 0666;
}

// What a link names, through a handle opened on it (the handle follows it).
bool StatThroughHandle(const std::wstring& native, FileInfo& info) {
  HANDLE handle = ::CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FailFromSystem();
  BY_HANDLE_FILE_INFORMATION details;
  const BOOL ok = ::GetFileInformationByHandle(handle, &details);
  ::CloseHandle(handle);
  if (!ok) return FailFromSystem();
  const std::uint64_t size = (static_cast<std::uint64_t>(details.nFileSizeHigh) << 32) | details.nFileSizeLow;
  FillInfo(details.dwFileAttributes, size, details.ftLastWriteTime, info);
  return true;
}

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool LessIgnoringCase(const DirEntry& a, const DirEntry& b) {
  const auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c; };
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [&](wchar_t x, wchar_t y) { return lower(x) < lower(y); });
}

// The destination of a replace must be a writable file (or missing).
bool RefusedAsDestination(const std::wstring& native) {
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

}  // namespace

Platform& Native() {
  static Win32Platform platform;
  return platform;
}

std::string Win32Platform::NativePath(const std::wstring& path) {
  return ToUtf8(Native(path));
}

bool Win32Platform::Stat(const std::wstring& path, FileInfo& info) {
  const std::wstring native = NativeFolder(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) return FailFromSystem();
  info = FileInfo{};
  if (IsLinkAttributes(data.dwFileAttributes)) {
    if (!StatThroughHandle(native, info)) return false;
    info.isSymbolicLink = true;
    return true;
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  FillInfo(data.dwFileAttributes, size, data.ftLastWriteTime, info);
  return true;
}

bool Win32Platform::Exists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(NativeFolder(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return true;
  FailFromSystem();
  return false;
}

bool Win32Platform::IsSymbolicLink(const std::wstring& path) {
  return IsLinkAttributes(::GetFileAttributesW(NativeFolder(path).c_str()));
}

bool Win32Platform::SetReadOnlyFlag(const std::wstring& path, bool readOnly) {
  const std::wstring native = NativeFolder(path);
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailFromSystem();
  DWORD changed = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
  // FILE_ATTRIBUTE_NORMAL is only valid alone.
  changed &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  if (changed == 0) changed = FILE_ATTRIBUTE_NORMAL;
  if (changed == attributes) return true;
  return ::SetFileAttributesW(native.c_str(), changed) || FailFromSystem();
}

bool Win32Platform::CreateDirectory(const std::wstring& path) {
  return ::CreateDirectoryW(NativeFolder(path).c_str(), nullptr) || FailFromSystem();
}

bool Win32Platform::RemoveDirectory(const std::wstring& path) {
  return ::RemoveDirectoryW(NativeFolder(path).c_str()) || FailFromSystem();
}

bool Win32Platform::DeleteFile(const std::wstring& path) {
  return ::DeleteFileW(Native(path).c_str()) || FailFromSystem();
}

bool Win32Platform::MoveFile(const std::wstring& from, const std::wstring& to) {
  // Without MOVEFILE_REPLACE_EXISTING an existing destination is refused
  // (ERROR_ALREADY_EXISTS); another volume is reached by copy and delete.
  return ::MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_COPY_ALLOWED) || FailFromSystem();
}

bool Win32Platform::ReplaceFile(const std::wstring& from, const std::wstring& to) {
  const std::wstring source = Native(from);
  const std::wstring destination = Native(to);
  if (RefusedAsDestination(destination)) return FailWith(ERROR_ACCESS_DENIED);
  // One rename within the volume: the destination is the old or the new file
  // at every moment. Without MOVEFILE_COPY_ALLOWED another volume fails with
  // ERROR_NOT_SAME_DEVICE instead of a copy that could be cut half way.
  return ::MoveFileExW(source.c_str(), destination.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         FailFromSystem();
}

bool Win32Platform::CopyFile(const std::wstring& from, const std::wstring& to, bool overwrite) {
  return ::CopyFileW(Native(from).c_str(), Native(to).c_str(), overwrite ? FALSE : TRUE) || FailFromSystem();
}

bool Win32Platform::IsFileInUse(const std::wstring& path) {
  // Opening with no sharing fails while anyone holds the file open.
  HANDLE handle = ::CreateFileW(Native(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION || ::GetLastError() == ERROR_LOCK_VIOLATION;
}

bool Win32Platform::ListDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  std::wstring pattern = Win32Paths::WithoutTrailingSeparator(path);
  for (wchar_t& c : pattern) {
    if (c == L'/') c = L'\\';
  }
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern = Win32Paths::ToNative(pattern + L"*");
  WIN32_FIND_DATAW found;
  HANDLE search =
      ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  entries.clear();
  if (search == INVALID_HANDLE_VALUE) {
    // A drive root without entries has no "." either: it is empty, not missing.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND && Exists(path)) return true;
    return FailFromSystem();
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                      found.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
    entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, link});
  } while (::FindNextFileW(search, &found));
  const DWORD ended = ::GetLastError();
  ::FindClose(search);
  if (ended != ERROR_NO_MORE_FILES) return FailFromSystem();
  std::sort(entries.begin(), entries.end(), LessIgnoringCase);
  return true;
}

bool Win32Platform::GetFreeBytes(const std::wstring& path, std::uint64_t& freeBytes) {
  // The figure is what this user may still use (quotas applied).
  std::wstring folder = Win32Paths::WithoutTrailingSeparator(Native(path));
  // The call wants a folder: a file answers for the folder that holds it.
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const std::size_t separator = folder.find_last_of(L'\\');
    if (separator != std::wstring::npos) folder.erase(separator);
  }
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  ULARGE_INTEGER available, total, free;
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free)) return FailFromSystem();
  freeBytes = available.QuadPart;
  return true;
}

bool Win32Platform::SetCurrentDirectory(const std::wstring& path) {
  return ::SetCurrentDirectoryW(NativeFolder(path).c_str()) || FailFromSystem();
}

std::wstring Win32Platform::GetCurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) {
    FailFromSystem();
    return {};
  }
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = ::GetCurrentDirectoryW(needed + 1, buffer.data());
  if (length == 0 || length > needed) {
    FailFromSystem();
    return {};
  }
  return std::wstring(buffer.data(), length);
}

bool Win32Platform::MakePrivateFolder(const std::wstring& path) {
  // A new folder inherits the access rights of its parent, which for the
  // user's temporary folder admit only the user and the administrators.
  const std::wstring native = NativeFolder(path);
  if (::CreateDirectoryW(native.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return FailFromSystem();
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailFromSystem();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsLinkAttributes(attributes))
    return FailWith(ERROR_ACCESS_DENIED);
  return true;
}

bool Win32Platform::CanWriteFolder(const std::wstring& path) {
  // The read-only attribute of a folder says nothing on Windows (the shell
  // uses it to mark customised folders): a trial file answers instead.
  FileInfo info;
  if (!Stat(path, info) || !info.isDirectory) return false;
  std::wstring probe = Win32Paths::WithoutTrailingSeparator(path);
  if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
  probe += L"korvel-write-test-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  HANDLE handle = ::CreateFileW(Native(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(handle);
  return true;
}

}  // namespace OS
