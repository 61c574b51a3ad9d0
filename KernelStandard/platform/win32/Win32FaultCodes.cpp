// The exception filter stores the structured exception's own code as the
// fault's number, so the code is the number itself.
#include "KernelStandard/platform/FaultCodes.h"
#include "KernelStandard/platform/win32/Win32Api.h"

namespace OS {

std::uint32_t FaultExceptionCode(const FatalFault& fault) {
  return static_cast<std::uint32_t>(fault.signalNumber);
}

void RaiseAccessViolation() {
  ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

}  // namespace OS
