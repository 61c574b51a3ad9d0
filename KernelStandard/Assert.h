// Programming errors: Vek::Assert logs "Assertion failed: %s" through the
// system log and ends the program through the crash handlers.
#pragma once

namespace Vek {

[[noreturn]] void AssertFailed(const char* expression);

// The function form, for assertions whose logged text is not the literal
// expression that checks them.
inline void Assert(bool condition, const char* text) {
  if (!condition) AssertFailed(text);
}

}  // namespace Vek

#define VEK_ASSERT(condition) \
  do {                        \
    if (!(condition)) ::Vek::AssertFailed(#condition); \
  } while (0)
