// Signals and their fault kinds mapped to the Windows exception codes that
// the reports name.
#include <signal.h>

#include "KernelStandard/platform/FaultCodes.h"

namespace OS {

std::uint32_t FaultExceptionCode(const FatalFault& fault) {
  switch (fault.signalNumber) {
    case SIGSEGV:
      return 0xC0000005;
    case SIGBUS:
      return fault.signalCode == BUS_ADRALN ? 0x80000002 : 0xC0000006;
    case SIGILL:
      return fault.signalCode == ILL_PRVOPC ? 0xC0000096 : 0xC000001D;
    case SIGTRAP:
      return 0x80000003;
    case SIGFPE:
      switch (fault.signalCode) {
        case FPE_INTDIV:
          return 0xC0000094;
        case FPE_INTOVF:
          return 0xC0000095;
        case FPE_FLTDIV:
          return 0xC000008E;
        case FPE_FLTOVF:
          return 0xC0000091;
        case FPE_FLTUND:
          return 0xC0000093;
        case FPE_FLTRES:
          return 0xC000008F;
        case FPE_FLTINV:
          return 0xC0000090;
        case FPE_FLTSUB:
          return 0xC000008C;
        default:
          return 0xC0000090;
      }
    default:
      return static_cast<std::uint32_t>(fault.signalNumber);
  }
}

void RaiseAccessViolation() {
  ::raise(SIGSEGV);
}

}  // namespace OS
