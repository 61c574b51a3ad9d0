// The monotonic clock behind the log timestamps: seconds since an arbitrary
// fixed point, never going backwards (the performance counter of the logs).
#pragma once

#include <chrono>

namespace Vek {

inline double LogCounterSeconds() {
  using Seconds = std::chrono::duration<double>;
  return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace Vek
