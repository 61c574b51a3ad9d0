#include "KernelStandard/Ticks.h"

#include <chrono>

namespace OS {
namespace {

using TickClock = std::chrono::steady_clock;

}  // namespace

std::uint64_t ReadTicks() {
  return static_cast<std::uint64_t>(TickClock::now().time_since_epoch().count());
}

double SecondsPerTick() {
  static const double secondsPerTick =
      static_cast<double>(TickClock::period::num) / static_cast<double>(TickClock::period::den);
  return secondsPerTick;
}

double TicksToSeconds(std::uint64_t start, std::uint64_t end) {
  const double ticks = end >= start ? static_cast<double>(end - start) : -static_cast<double>(start - end);
  return ticks * SecondsPerTick();
}

}  // namespace OS
