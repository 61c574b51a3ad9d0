#include <mutex>

#include "KernelStandard/Log.h"
#include "net/InternetSession.h"
#include "net/win32/WinInet.h"

namespace NolkInetInternal {
namespace {

constexpr DWORD kConnectTimeoutMs = 30000;
// A transfer with nothing received for a minute counts as lost.
constexpr DWORD kReceiveTimeoutMs = 60000;

HINTERNET g_session = nullptr;

void SetTimeout(DWORD option, DWORD milliseconds) {
  InternetSetOptionW(g_session, option, &milliseconds, sizeof milliseconds);
}

}  // namespace

// One session for the process, with the system's proxy settings; it is
// never closed, since other threads may still use it at process end.
bool CreateInternetSession() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_session = InternetOpenA(AgentName(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (g_session == nullptr) {
      LogPrint("NolkInetInternal::CreateInternetSession> InternetOpen failed with error %d\n",
               static_cast<int>(GetLastError()));
      return;
    }
    SetTimeout(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
    SetTimeout(INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
    SetTimeout(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
  });
  return g_session != nullptr;
}

HINTERNET SessionHandle() {
  return g_session;
}

std::string InternetErrorText(DWORD code) {
  char text[512] = {};
  DWORD length = 0;
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                            GetModuleHandleA("wininet.dll"), code, 0, text, sizeof text, nullptr);
  } else {
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                            text, sizeof text, nullptr);
  }
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(code);
}

}  // namespace NolkInetInternal
