#include "net/InternetSession.h"

#include <curl/curl.h>

#include <atomic>
#include <charconv>
#include <mutex>

#include "KernelStandard/Log.h"
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

// The session is never closed: curl_global_cleanup is not safe while other
// threads might still be inside the library at process end.
bool CreateInternetSession() {
  static std::once_flag once;
  static bool created = false;
  std::call_once(once, [] {
    const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
    created = result == CURLE_OK;
    if (!created)
      LogPrint("NolkInetInternal::CreateInternetSession> InternetOpen failed with error %d\n",
               static_cast<int>(result));
  });
  return created;
}

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
