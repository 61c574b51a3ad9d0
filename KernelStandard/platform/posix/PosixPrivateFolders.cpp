// POSIX backend: shared and private folders, for files that must not be
// raced for by other users (temporary archives, unpack folders).
//
// A folder is shared when a user other than the effective one and root may
// add or remove names in it: it carries a group or other write bit, or
// belongs to another user. The sticky bit of /tmp does not help: it stops
// others from removing our names, not from taking a name before we do.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

constexpr mode_t kOthersWriteBits = S_IWGRP | S_IWOTH;
constexpr mode_t kPrivateMode = S_IRWXU;

bool BelongsToUsOrRoot(const struct stat& info) {
  return info.st_uid == ::geteuid() || info.st_uid == 0;
}

// An existing folder is ours to use when it is a real folder (lstat: a
// link is refused even when it points at a good folder), owned by the
// effective user, and nobody else may change its entries.
bool IsUsablePrivateFolder(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & kOthersWriteBits) == 0;
}

}  // namespace

bool PosixPlatform::IsSharedFolder(const std::wstring& path) {
  struct stat info;
  if (::stat(NativePath(path).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return (info.st_mode & kOthersWriteBits) != 0 || !BelongsToUsOrRoot(info);
}

bool PosixPlatform::MakePrivateFolder(const std::wstring& path) {
  const std::string native = NativePath(path);
  if (::mkdir(native.c_str(), kPrivateMode) == 0) {
    // The umask can only have taken bits away; the owner needs all three.
    return ::chmod(native.c_str(), kPrivateMode) == 0 || FailFromErrno();
  }
  if (errno != EEXIST) return FailFromErrno();
  struct stat info;
  if (::lstat(native.c_str(), &info) != 0) return FailFromErrno();
  return IsUsablePrivateFolder(info) || FailWith(ERROR_ACCESS_DENIED);
}

bool PosixPlatform::CanWriteFolder(const std::wstring& path) {
  const std::string native = NativePath(path);
  struct stat info;
  if (::stat(native.c_str(), &info) != 0) return FailFromErrno();
  if (!S_ISDIR(info.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  return ::faccessat(AT_FDCWD, native.c_str(), W_OK | X_OK, AT_EACCESS) == 0 || FailFromErrno();
}

}  // namespace OS
