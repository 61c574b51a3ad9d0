#include <cstring>

#include "KernelStandard/platform/LocalTime.h"

namespace OS {

bool LocalTime(std::time_t moment, std::tm& local) {
  if (localtime_r(&moment, &local) != nullptr) return true;
  std::memset(&local, 0, sizeof(local));
  return false;
}

std::int64_t LocalZoneOffsetSeconds(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local.tm_gmtoff;
}

}  // namespace OS
