#include "app/cli/DownloadStatusText.h"

#include <cstdio>

namespace NolkPatch {

std::string FormatByteCount(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024ull * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else if (bytes < 1024ull * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  }
  return text;
}

std::string DownloadStatusText(std::uint64_t received, std::uint64_t expected, std::uint64_t moved,
                               std::uint32_t elapsedMs) {
  std::string text = FormatByteCount(received);
  if (expected > 0) text += " of " + FormatByteCount(expected);
  if (elapsedMs == 0) return text;
  const double perSecond = static_cast<double>(moved) * 1000.0 / elapsedMs;
  text += ", " + FormatByteCount(static_cast<std::uint64_t>(perSecond)) + "/s";
  if (expected > received && perSecond >= 1.0) {
    const auto seconds =
        static_cast<unsigned long long>(static_cast<double>(expected - received) / perSecond);
    char left[40];
    std::snprintf(left, sizeof left, ", %llu:%02llu left", seconds / 60, seconds % 60);
    text += left;
  }
  return text;
}

std::string DownloadRateClock::Update(std::uint64_t received, std::uint64_t expected, std::uint32_t nowMs) {
  if (!m_started || received < m_lastReceived) {
    m_started = true;
    m_firstReceived = received;
    m_startMs = nowMs;
  }
  m_lastReceived = received;
  return DownloadStatusText(received, expected, received - m_firstReceived, nowMs - m_startMs);
}

}  // namespace NolkPatch
