// errno values mapped to the Windows system error codes the program reports.
#include <cerrno>

#include "KernelStandard/platform/posix/PosixPlatform.h"

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
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EINVAL:
    case EBADF:
    case ESPIPE:
    case EOVERFLOW:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

bool FailFromErrno() {
  SetLastError(ErrorFromErrno(errno));
  return false;
}

bool FailWith(int error) {
  SetLastError(error);
  return false;
}

}  // namespace OS
