// NolkFTP on WinINet: the control connection is WinINet's FTP session
// handle (logged in when it is made), a resumed fetch sends REST on it
// before the file is opened, and the size comes from the SIZE reply.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KernelStandard/Log.h"
#include "net/InternetSession.h"
#include "net/NolkFTP.h"
#include "net/win32/WinInet.h"

namespace NolkInetInternal {
class FtpConnection {
 public:
  InternetHandle session;
};
}  // namespace NolkInetInternal

namespace {

using NolkInetInternal::InternetErrorText;
using NolkInetInternal::InternetHandle;

constexpr int kAttempts = 2;
constexpr DWORD kReadBlockBytes = 16384;

bool IsConnectionDrop(int code) {
  return code == ERROR_INTERNET_CONNECTION_ABORTED || code == ERROR_INTERNET_CONNECTION_RESET ||
         code == ERROR_INTERNET_TIMEOUT || code == ERROR_FTP_DROPPED;
}

// The server's last reply on the control connection ("213 4096").
std::string LastReply() {
  DWORD code = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoA(&code, nullptr, &length);
  // Room for the terminating null whether or not the length counted it
  // (Wine's does not); the text ends at the null.
  std::vector<char> text(length + 2, '\0');
  length = static_cast<DWORD>(text.size());
  if (!InternetGetLastResponseInfoA(&code, text.data(), &length)) return std::string();
  return std::string(text.data(), strnlen(text.data(), text.size()));
}

// The last line of a reply, where the final status is.
std::string FinalLine(const std::string& reply) {
  std::size_t end = reply.find_last_not_of("\r\n");
  if (end == std::string::npos) return std::string();
  const std::size_t begin = reply.find_last_of('\n', end);
  return reply.substr(begin == std::string::npos ? 0 : begin + 1,
                      end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

// False when the command got no answer. An answer that WinINet counts as
// a failure (Wine's counts the intermediate 350 to REST so) is still an
// answer: the caller judges it by its status.
bool SendCommand(HINTERNET session, const std::string& command, std::string& reply) {
  if (!FtpCommandA(session, FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr) &&
      GetLastError() != ERROR_INTERNET_EXTENDED_ERROR)
    return false;
  reply = FinalLine(LastReply());
  return true;
}

}  // namespace

NolkFTP::NolkFTP() : m_connection(std::make_unique<NolkInetInternal::FtpConnection>()) {}

NolkFTP::~NolkFTP() = default;

NolkResult NolkFTP::Open(const std::string& host, const std::string& user, const std::string& password,
                         bool passive, std::int32_t port) {
  m_host = host;
  m_user = user;
  m_password = password;
  m_passive = passive;
  m_port = port > 0 ? port : 21;
  m_connected = false;
  m_connection->session.Reset(nullptr);
  if (NolkInetInternal::CreateInternetSession()) {
    m_connection->session.Reset(
        InternetConnectA(NolkInetInternal::SessionHandle(), host.c_str(), static_cast<INTERNET_PORT>(m_port),
                         m_user.empty() ? "anonymous" : m_user.c_str(), m_password.c_str(),
                         INTERNET_SERVICE_FTP, m_passive ? INTERNET_FLAG_PASSIVE : 0, 0));
    if (m_connection->session) {
      m_connected = true;
      return NOLKRESULT_OK;
    }
    m_lastError = static_cast<int>(GetLastError());
  }
  LogPrint("NolkFTP::Open> Connection to \"%s\" failed with error %d (%s)\n", host.c_str(), m_lastError,
           ErrorText(m_lastError).c_str());
  return NOLKRESULT_CONNECTION_LOST;
}

NolkResult NolkFTP::Reconnect(bool restoreDirectory) {
  if (!IsConnectionDrop(m_lastError)) return NOLKRESULT_CONNECTION_LOST;
  const std::string folder = m_currentDirectory;
  if (Open(m_host, m_user, m_password, m_passive, m_port) == NOLKRESULT_OK && restoreDirectory &&
      !folder.empty())
    SetDirectory(folder);
  return NOLKRESULT_CONNECTION_LOST;
}

NolkResult NolkFTP::SetDirectory(const std::string& path) {
  if (!m_connected) return NOLKRESULT_NOT_OPEN;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) Reconnect(false);
    if (!FtpSetCurrentDirectoryA(m_connection->session.Get(), path.c_str())) {
      m_lastError = static_cast<int>(GetLastError());
      continue;
    }
    char folder[MAX_PATH * 4] = {};
    DWORD length = sizeof folder;
    if (!FtpGetCurrentDirectoryA(m_connection->session.Get(), folder, &length)) break;
    // The length may count the terminating null.
    m_currentDirectory.assign(folder, strnlen(folder, std::min<std::size_t>(length, sizeof folder)));
    return NOLKRESULT_OK;
  }
  m_currentDirectory.clear();
  return NOLKRESULT_CANNOT_LIST;
}

NolkResult NolkFTP::GetRemoteFileSize(const std::string& path, std::uint64_t& size) {
  size = 0;
  if (!m_connected) return NOLKRESULT_NOT_OPEN;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) Reconnect(true);
    // Servers answer SIZE only in binary mode, and WinINet sets the mode
    // only when it opens a file.
    std::string reply;
    if (!SendCommand(m_connection->session.Get(), "TYPE I", reply) ||
        !SendCommand(m_connection->session.Get(), "SIZE " + path, reply)) {
      m_lastError = static_cast<int>(GetLastError());
      continue;
    }
    // "213 <bytes>"
    if (reply.rfind("213 ", 0) != 0 || reply.size() < 5 ||
        reply.find_first_not_of("0123456789", 4) != std::string::npos)
      return NOLKRESULT_CONNECTION_LOST;
    size = std::strtoull(reply.c_str() + 4, nullptr, 10);
    return NOLKRESULT_OK;
  }
  return NOLKRESULT_CONNECTION_LOST;
}

int NolkFTP::FetchOnce(const std::string& path, NolkDataBuffer& destination, DownloadURLCallback* callback,
                       std::uint64_t start, bool& cancelled, NolkResult& writeResult, bool& bodyStarted) {
  HINTERNET session = m_connection->session.Get();
  if (start > 0) {
    // Servers take REST only in binary mode, which WinINet sets only when
    // it opens the file, after the REST.
    std::string reply;
    if (!SendCommand(session, "TYPE I", reply) ||
        !SendCommand(session, "REST " + std::to_string(start), reply))
      return m_lastError = static_cast<int>(GetLastError());
    if (reply.rfind("350", 0) != 0) return m_lastError = ERROR_INTERNET_EXTENDED_ERROR;  // resume refused
  }
  InternetHandle file(
      FtpOpenFileA(session, path.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
  if (!file) return m_lastError = static_cast<int>(GetLastError());
  bodyStarted = true;
  std::vector<char> block(kReadBlockBytes);
  for (;;) {
    if (callback != nullptr && callback->StopRequested()) {
      cancelled = true;
      return m_lastError = ERROR_INTERNET_OPERATION_CANCELLED;
    }
    DWORD got = 0;
    if (!InternetReadFile(file.Get(), block.data(), kReadBlockBytes, &got))
      return m_lastError = static_cast<int>(GetLastError());
    if (got == 0) return m_lastError = 0;
    const NolkResult written = destination.WriteData(block.data(), got);
    if (written != NOLKRESULT_OK) {
      LogPrint("WriteData returned %d\n", written);
      writeResult = written;
      return m_lastError = ERROR_INTERNET_OPERATION_CANCELLED;
    }
  }
}

bool NolkFTP::IsResumeRefusal(int code) {
  return code == ERROR_INTERNET_EXTENDED_ERROR;  // the REST reply was not 350
}

std::string NolkFTP::ErrorText(int code) const {
  return InternetErrorText(static_cast<DWORD>(code));
}
