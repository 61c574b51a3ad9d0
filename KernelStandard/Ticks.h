// The kernel's tick source for timing: the steady high-resolution clock of
// the C++ library (the performance counter where Windows has one). The
// seconds per tick are fixed once; the difference of two readings times
// that factor gives seconds.
#pragma once

#include <cstdint>

namespace OS {

std::uint64_t ReadTicks();
double SecondsPerTick();
// Seconds between two readings (negative when `end` is earlier).
double TicksToSeconds(std::uint64_t start, std::uint64_t end);

}  // namespace OS
