// The thread's last system error, kept per thread like the Windows one.
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

}  // namespace OS
