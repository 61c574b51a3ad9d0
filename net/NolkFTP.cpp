#include "net/NolkFTP.h"

#include "KernelStandard/Log.h"
#include "net/CurlTransfer.h"

namespace NolkInetInternal {
class FtpConnection : public CurlHandle {};
}  // namespace NolkInetInternal

namespace {

using NolkInetInternal::FtpConnection;
using NolkInetInternal::ResponseSink;

constexpr int kAttempts = 2;

// The folder out of a "257" reply to PWD: the text between the first two
// double quotes, with doubled quotes standing for one.
bool TakeWorkingDirectory(const std::string& line, std::string& folder) {
  if (line.rfind("257", 0) != 0) return false;
  const std::size_t open = line.find('"');
  if (open == std::string::npos) return false;
  std::string result;
  for (std::size_t i = open + 1; i < line.size(); ++i) {
    if (line[i] != '"') {
      result += line[i];
    } else if (i + 1 < line.size() && line[i + 1] == '"') {
      result += '"';
      ++i;
    } else {
      folder = result;
      return true;
    }
  }
  return false;
}

struct ReplyCollector {
  std::string workingDirectory;
  bool found = false;
};

std::size_t OnReply(char* data, std::size_t size, std::size_t count, void* context) {
  ReplyCollector& collector = *static_cast<ReplyCollector*>(context);
  if (TakeWorkingDirectory(std::string(data, size * count), collector.workingDirectory))
    collector.found = true;
  return size * count;
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

}  // namespace

NolkFTP::NolkFTP() : m_connection(std::make_unique<FtpConnection>()) {}

NolkFTP::~NolkFTP() = default;

std::string NolkFTP::UrlOf(const std::string& path) const {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    std::string folder = m_currentDirectory;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    full = (folder.empty() ? "/" : folder) + full;
  }
  return "ftp://" + m_host + ":" + std::to_string(m_port) + full;
}

// The login and mode of this connection, on a handle whose cached
// connection the command reuses.
void NolkFTP::PrepareCommand(const std::string& path) {
  m_connection->PrepareTransfer();
  CURL* curl = m_connection->Get();
  curl_easy_setopt(curl, CURLOPT_URL, UrlOf(path).c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.empty() ? "anonymous" : m_user.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.c_str());
  if (m_passive) {
    curl_easy_setopt(curl, CURLOPT_FTPPORT, nullptr);
  } else {
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
}

// A command without a transfer (login, change of folder, size).
int NolkFTP::RunCommand() {
  curl_easy_setopt(m_connection->Get(), CURLOPT_NOBODY, 1L);
  m_lastError = curl_easy_perform(m_connection->Get());
  return m_lastError;
}

NolkResult NolkFTP::Open(const std::string& host, const std::string& user, const std::string& password,
                         bool passive, std::int32_t port) {
  m_host = host;
  m_user = user;
  m_password = password;
  m_passive = passive;
  m_port = port > 0 ? port : 21;
  m_connected = false;
  m_connection->Close();
  m_connection->PrepareTransfer();
  if (m_connection->IsValid()) {
    const std::string folder = m_currentDirectory;
    m_currentDirectory.clear();
    PrepareCommand("/");
    m_currentDirectory = folder;
    if (RunCommand() == CURLE_OK) {
      m_connected = true;
      return NOLKRESULT_OK;
    }
  }
  LogPrint("NolkFTP::Open> Connection to \"%s\" failed with error %d (%s)\n", host.c_str(),
           static_cast<int>(m_lastError), ErrorText(m_lastError).c_str());
  return NOLKRESULT_CONNECTION_LOST;
}

NolkResult NolkFTP::Reconnect(bool restoreDirectory) {
  if (!NolkInetInternal::IsConnectionDrop(static_cast<CURLcode>(m_lastError)))
    return NOLKRESULT_CONNECTION_LOST;
  const std::string folder = m_currentDirectory;
  if (Open(m_host, m_user, m_password, m_passive, m_port) == NOLKRESULT_OK && restoreDirectory &&
      !folder.empty())
    SetDirectory(folder);
  return NOLKRESULT_CONNECTION_LOST;
}

NolkResult NolkFTP::SetDirectory(const std::string& path) {
  if (!m_connected) return NOLKRESULT_NOT_OPEN;
  std::string folder = path;
  if (folder.empty() || folder.back() != '/') folder += '/';
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) Reconnect(false);
    PrepareCommand(folder);
    ReplyCollector collector;
    curl_slist* commands = curl_slist_append(nullptr, "PWD");
    curl_easy_setopt(m_connection->Get(), CURLOPT_POSTQUOTE, commands);
    curl_easy_setopt(m_connection->Get(), CURLOPT_HEADERFUNCTION, OnReply);
    curl_easy_setopt(m_connection->Get(), CURLOPT_HEADERDATA, &collector);
    const int code = RunCommand();
    curl_easy_setopt(m_connection->Get(), CURLOPT_POSTQUOTE, nullptr);
    curl_slist_free_all(commands);
    if (code != CURLE_OK) continue;
    if (!collector.found) break;
    m_currentDirectory = collector.workingDirectory;
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
    PrepareCommand(path);
    if (RunCommand() != CURLE_OK) continue;
    curl_off_t length = -1;
    if (curl_easy_getinfo(m_connection->Get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0)
      return NOLKRESULT_CONNECTION_LOST;
    size = static_cast<std::uint64_t>(length);
    return NOLKRESULT_OK;
  }
  return NOLKRESULT_CONNECTION_LOST;
}

int NolkFTP::FetchOnce(const std::string& path, NolkDataBuffer& destination, DownloadURLCallback* callback,
                       std::uint64_t start, bool& cancelled, NolkResult& writeResult, bool& bodyStarted) {
  PrepareCommand(path);
  ResponseSink sink;
  sink.destination = &destination;
  sink.callback = callback;
  NolkInetInternal::AttachSink(*m_connection, sink);
  curl_easy_setopt(m_connection->Get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(start));
  m_lastError = curl_easy_perform(m_connection->Get());
  cancelled = sink.cancelled;
  writeResult = sink.writeResult;
  bodyStarted = sink.bodyStarted;
  return m_lastError;
}

bool NolkFTP::IsResumeRefusal(int code) {
  return code == CURLE_FTP_COULDNT_USE_REST || code == CURLE_BAD_DOWNLOAD_RESUME || code == CURLE_RANGE_ERROR;
}

std::string NolkFTP::ErrorText(int code) const {
  return m_connection->ErrorText(static_cast<CURLcode>(code));
}
