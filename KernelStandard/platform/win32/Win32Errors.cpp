// The Windows error codes are the program's own numbers, so a failing call
// hands its error on unchanged; errno values from the C runtime are mapped.
#include <cerrno>

#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {

int ErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case EAGAIN:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOSYS:
      return ERROR_NOT_SUPPORTED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EINVAL:
    case EBADF:
    case ESPIPE:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool FailFromSystem() {
  const DWORD error = ::GetLastError();
  SetLastError(error == 0 ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(error));
  return false;
}

bool FailWith(int error) {
  SetLastError(error);
  return false;
}

}  // namespace OS
