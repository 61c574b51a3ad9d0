#include <cstring>

#include "KernelStandard/platform/LocalTime.h"

namespace OS {

bool LocalTime(std::time_t moment, std::tm& local) {
  if (localtime_s(&local, &moment) == 0) return true;
  std::memset(&local, 0, sizeof(local));
  return false;
}

std::int64_t LocalZoneOffsetSeconds(std::time_t moment) {
  // The local broken-down time read back as if it were UTC differs from the
  // moment by the offset.
  std::tm local{};
  if (localtime_s(&local, &moment) != 0) return 0;
  const std::time_t asUtc = _mkgmtime(&local);
  return asUtc == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(asUtc - moment);
}

}  // namespace OS
