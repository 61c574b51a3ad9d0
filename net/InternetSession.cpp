#include "net/InternetSession.h"

#include <atomic>
#include <charconv>

#include "KernelStandard/platform/Platform.h"

namespace NolkInetInternal {
namespace {

constexpr std::uint32_t kDefaultRetryPauseMs = 1000;
constexpr std::uint32_t kUnsetPause = UINT32_MAX;

std::atomic<std::uint32_t> g_retryPauseMs{kUnsetPause};

std::uint32_t PauseFromEnvironment() {
  std::string text;
  if (!OS::Current().GetEnvironment("KORVEL_RETRY_PAUSE_MS", text) || text.empty())
    return kDefaultRetryPauseMs;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return kDefaultRetryPauseMs;
  return value;
}

}  // namespace

const char* AgentName() {
  return "Nolk";
}

std::string CaFile() {
  std::string path;
  if (!OS::Current().GetEnvironment("KORVEL_CA_FILE", path)) return std::string();
  return path;
}

std::uint32_t RetryPauseMilliseconds() {
  std::uint32_t pause = g_retryPauseMs.load();
  if (pause == kUnsetPause) {
    pause = PauseFromEnvironment();
    g_retryPauseMs = pause;
  }
  return pause;
}

void SetRetryPauseMilliseconds(std::uint32_t milliseconds) {
  g_retryPauseMs = milliseconds == kUnsetPause ? kUnsetPause - 1 : milliseconds;
}

void PauseBeforeRetry() {
  const std::uint32_t pause = RetryPauseMilliseconds();
  if (pause > 0) OS::Current().Sleep(pause);
}

}  // namespace NolkInetInternal
