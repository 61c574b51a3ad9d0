// Local civil time from the system's time-zone rules. Thread-safe, unlike
// std::localtime.
#pragma once

#include <cstdint>
#include <ctime>

namespace OS {

// The local date and time of a moment; false (and `local` zeroed) when the
// system cannot convert it.
bool LocalTime(std::time_t moment, std::tm& local);
// How far local time is ahead of UTC at that moment, in seconds (daylight
// saving included).
std::int64_t LocalZoneOffsetSeconds(std::time_t moment);

}  // namespace OS
