// The console's line for an archive download: bytes received of bytes
// expected, the rate since the download began and the time left, e.g.
// "12.5 MiB of 40.0 MiB, 2.1 MiB/s, 0:13 left". Without an expected size
// only bytes and rate are shown.
#pragma once

#include <cstdint>
#include <string>

namespace NolkPatch {

std::string FormatByteCount(std::uint64_t bytes);
// `moved` bytes of `received` came in the last `elapsedMs` (a resumed
// download's earlier bytes do not count for the rate).
std::string DownloadStatusText(std::uint64_t received, std::uint64_t expected, std::uint64_t moved,
                               std::uint32_t elapsedMs);

// Keeps when the download began: a count that goes back to a lower value
// is a new download (the next patch, or a rewound retry).
class DownloadRateClock {
 public:
  std::string Update(std::uint64_t received, std::uint64_t expected, std::uint32_t nowMs);

 private:
  bool m_started = false;
  std::uint64_t m_lastReceived = 0;
  std::uint64_t m_firstReceived = 0;
  std::uint32_t m_startMs = 0;
};

}  // namespace NolkPatch
