// The thread's last system error, kept per thread like the Windows one.
#include <string>

#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {
thread_local int t_lastError = ERROR_SUCCESS;
}  // namespace

int GetLastError() {
  return t_lastError;
}

void SetLastError(int code) {
  t_lastError = code;
}

std::wstring ErrorText(int code) {
  switch (code) {
    case ERROR_SUCCESS:
      return L"no error";
    case ERROR_FILE_NOT_FOUND:
      return L"the file does not exist";
    case ERROR_PATH_NOT_FOUND:
      return L"the folder does not exist";
    case ERROR_ACCESS_DENIED:
      return L"permission denied";
    case ERROR_NOT_ENOUGH_MEMORY:
      return L"not enough memory";
    case ERROR_WRITE_FAULT:
      return L"write error";
    case ERROR_READ_FAULT:
      return L"read error";
    case ERROR_SHARING_VIOLATION:
      return L"the file is in use by another program";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return L"the disk is full";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return L"a file of that name already exists";
    case ERROR_INVALID_PARAMETER:
      return L"invalid name or argument";
    case ERROR_DIR_NOT_EMPTY:
      return L"the folder is not empty";
    case ERROR_NOT_SAME_DEVICE:
      return L"not on the same volume";
    default:
      return L"system error " + std::to_wstring(code);
  }
}

}  // namespace OS
