// Programming errors: Vek::Assert logs "Assertion failed: %s" through the
// system log and ends the program through the crash handlers.
#pragma once

namespace Vek {

[[noreturn]] void AssertFailed(const char* expression);

}  // namespace Vek

#define VEK_ASSERT(condition) \
  do {                        \
    if (!(condition)) ::Vek::AssertFailed(#condition); \
  } while (0)
