#include "net/CurlTransfer.h"

#include <strings.h>

#include <algorithm>
#include <mutex>

#include "KernelStandard/Log.h"
#include "net/InternetSession.h"

namespace NolkInetInternal {
namespace {

constexpr long kConnectTimeoutSeconds = 30;
// A transfer slower than one byte a second for a minute counts as lost.
constexpr long kLowSpeedBytes = 1;
constexpr long kLowSpeedSeconds = 60;
constexpr long kMaxRedirects = 10;

std::string TrimmedHeaderValue(const std::string& line, std::size_t nameLength) {
  std::size_t begin = nameLength;
  std::size_t end = line.size();
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ')) --end;
  return line.substr(begin, end - begin);
}

bool HeaderIs(const std::string& line, const char* name, std::size_t length) {
  return line.size() > length && strncasecmp(line.c_str(), name, length) == 0;
}

// Every response of a redirect chain starts with a status line; only the
// last response's validators count.
void TakeHeaderLine(ResponseSink& sink, const std::string& line) {
  if (line.rfind("HTTP/", 0) == 0) {
    sink.etag.clear();
    sink.lastModified.clear();
    sink.contentRange.clear();
  } else if (HeaderIs(line, "etag:", 5)) {
    sink.etag = TrimmedHeaderValue(line, 5);
  } else if (HeaderIs(line, "last-modified:", 14)) {
    sink.lastModified = TrimmedHeaderValue(line, 14);
  } else if (HeaderIs(line, "content-range:", 14)) {
    sink.contentRange = TrimmedHeaderValue(line, 14);
  }
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context) {
  TakeHeaderLine(*static_cast<ResponseSink*>(context), std::string(data, size * count));
  return size * count;
}

// Before the first byte of an HTTP body: an error status is a failed
// attempt whose body is never written; a whole resource sent in answer to
// a range request starts again at the restart position.
bool StartHttpBody(ResponseSink& sink) {
  curl_easy_getinfo(sink.curl, CURLINFO_RESPONSE_CODE, &sink.status);
  if (!IsSuccessStatus(sink.status)) {
    sink.badStatus = true;
    return false;
  }
  if (sink.requestedOffset == 0) return true;
  if (sink.status == 206) {
    sink.badRange = !RangeStartsAt(sink.contentRange, sink.requestedOffset);
    return !sink.badRange;
  }
  NolkDataBuffer& destination = *sink.destination;
  if (destination.SetSize(sink.restartPosition) != NOLKRESULT_OK ||
      destination.SetPosition(sink.restartPosition) != NOLKRESULT_OK) {
    sink.writeResult = NOLKRESULT_FILE_ERROR;
    return false;
  }
  return true;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
  ResponseSink& sink = *static_cast<ResponseSink*>(context);
  if (!sink.bodyStarted) {
    sink.bodyStarted = true;
    if (sink.isHttp && !StartHttpBody(sink)) return CURL_WRITEFUNC_ERROR;
    if (sink.onBodyStart) sink.onBodyStart();
  }
  return ReadResponseChunk(sink, data, size * count);
}

// Also asked while no data arrives, so a stalled server does not hold a
// cancel back.
int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  ResponseSink& sink = *static_cast<ResponseSink*>(context);
  if (sink.callback && sink.callback->StopRequested()) {
    sink.cancelled = true;
    return 1;
  }
  return 0;
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

CurlHandle::CurlHandle() {
  if (CreateInternetSession()) m_curl = curl_easy_init();
}

CurlHandle::~CurlHandle() {
  Close();
}

void CurlHandle::Close() {
  if (m_curl) curl_easy_cleanup(m_curl);
  m_curl = nullptr;
}

void CurlHandle::PrepareTransfer() {
  if (!m_curl && CreateInternetSession()) m_curl = curl_easy_init();
  if (!m_curl) return;
  curl_easy_reset(m_curl);
  m_error[0] = '\0';
  ApplySharedOptions();
}

void CurlHandle::ApplySharedOptions() {
  curl_easy_setopt(m_curl, CURLOPT_USERAGENT, AgentName());
  curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_error);
  curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_curl, CURLOPT_BUFFERSIZE, static_cast<long>(kSocketBlockBytes));
  curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
  curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(m_curl, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string caFile = CaFile();
  if (!caFile.empty()) curl_easy_setopt(m_curl, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(m_curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(m_curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(m_curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
}

std::string CurlHandle::ErrorText(CURLcode code) const {
  return m_error[0] != '\0' ? std::string(m_error) : std::string(curl_easy_strerror(code));
}

void AttachSink(CurlHandle& handle, ResponseSink& sink) {
  CURL* curl = handle.Get();
  sink.curl = curl;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

std::size_t ReadResponseChunk(ResponseSink& sink, const char* block, std::size_t length) {
  if (!block || !sink.destination) return CURL_WRITEFUNC_ERROR;
  std::size_t taken = 0;
  if (sink.callback) {
    while (taken < length && !sink.cancelled) {
      if (sink.callback->StopRequested()) {
        sink.cancelled = true;
      } else {
        taken += std::min<std::size_t>(kReadBlockBytes, length - taken);
      }
    }
  } else {
    taken = length;
  }
  if (taken > 0) {
    const NolkResult written = sink.destination->WriteData(block, static_cast<std::uint32_t>(taken));
    if (written != NOLKRESULT_OK) {
      LogPrint("WriteData returned %d\n", written);
      sink.writeResult = written;
      return CURL_WRITEFUNC_ERROR;
    }
    sink.bytesWritten += taken;
  }
  return sink.cancelled ? CURL_WRITEFUNC_ERROR : length;
}

bool IsConnectionDrop(CURLcode code) {
  return code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING ||
         code == CURLE_PARTIAL_FILE || code == CURLE_OPERATION_TIMEDOUT;
}

}  // namespace NolkInetInternal
