// The Windows exception code that names a fatal fault in reports, from the
// fault as the backend's handler saw it.
#pragma once

#include <cstdint>

#include "KernelStandard/platform/Platform.h"

namespace OS {

// 0xC0000005 for an access violation, 0xC0000094 for an integer division by
// zero and so on. A backend whose faults carry no code of their own maps
// its signal and the kind of fault within it; a signal without a matching
// code gives its own number.
std::uint32_t FaultExceptionCode(const FatalFault& fault);

// Raises an access violation on the calling thread, which reaches the
// fatal-fault handler as a real one would (SIGSEGV on POSIX, a structured
// exception on Windows). Returns only when no handler ends the process.
void RaiseAccessViolation();

}  // namespace OS
