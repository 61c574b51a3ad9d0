// HTTP and HTTPS attempts on WinINet: the same requests, checks and log
// lines as on the other platforms, with the system's proxy settings.
#include <vector>

#include "KernelStandard/Log.h"
#include "net/HttpClient.h"
#include "net/HttpResponseRules.h"
#include "net/InternetSession.h"
#include "net/win32/WinInet.h"

namespace NolkUtil {
namespace {

using NolkInetInternal::InternetErrorText;
using NolkInetInternal::InternetHandle;

constexpr DWORD kReadBlockBytes = 16384;
constexpr int kHeaderNotFound = 12150;
// WinINet's "the connection with the server was reset": the body ended
// before its Content-Length (WinINet itself reports such an end as a
// normal one).
constexpr DWORD kConnectionReset = 12031;

// WinINet connects only when the request is sent; failures to reach the
// server are logged as connect failures, as on the other platforms.
bool IsConnectFailure(DWORD code) {
  return code == ERROR_INTERNET_CANNOT_CONNECT || code == ERROR_INTERNET_NAME_NOT_RESOLVED;
}

// The connection and the request of one attempt.
struct Request {
  InternetHandle connection;
  InternetHandle request;
};

DWORD RequestFlags(const UrlParts& parts, std::uint32_t flags) {
  DWORD result = INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION;
  if (parts.scheme == "https") result |= INTERNET_FLAG_SECURE;
  if (flags & kDownloadBypassCache)
    result |= INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  return result;
}

NolkResult OpenRequest(const std::string& url, const char* verb, std::uint32_t flags, Request& request) {
  if (!NolkInetInternal::CreateInternetSession()) {
    LogPrint("InternetConnect returned %d for url %s\n", ERROR_INTERNET_INTERNAL_ERROR, url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  UrlParts parts;
  if (ParseURL(url, parts) != NOLKRESULT_OK) return NOLKRESULT_BAD_ARGUMENT;
  DefaultScheme(parts);
  if (DefaultPort(parts) != NOLKRESULT_OK) return NOLKRESULT_BAD_ARGUMENT;
  request.connection.Reset(InternetConnectA(
      NolkInetInternal::SessionHandle(), parts.host.c_str(), static_cast<INTERNET_PORT>(parts.port),
      parts.user.empty() ? nullptr : parts.user.c_str(),
      parts.password.empty() ? nullptr : parts.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!request.connection) {
    LogPrint("InternetConnect returned %d for url %s\n", static_cast<int>(GetLastError()), url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  const char* acceptTypes[] = {"*/*", nullptr};
  const std::string path = parts.path.empty() ? "/" : parts.path;
  request.request.Reset(HttpOpenRequestA(request.connection.Get(), verb, path.c_str(), nullptr, nullptr,
                                         acceptTypes, RequestFlags(parts, flags), 0));
  if (!request.request) {
    LogPrint("HttpOpenRequest returned %d for url %s\n", static_cast<int>(GetLastError()), url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  return NOLKRESULT_OK;
}

std::string RequestHeaders(std::uint32_t flags, const HttpResumePoint& resume, std::uint64_t resumeOffset) {
  std::string headers;
  if (flags & kDownloadBypassCache) headers += "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
  if (resumeOffset > 0 && resume.HasValidator()) {
    headers += "Range: bytes=" + std::to_string(resumeOffset) + "-\r\n";
    headers += "If-Range: " + (resume.etag.empty() ? resume.lastModified : resume.etag) + "\r\n";
  }
  return headers;
}

NolkResult Send(Request& request, const std::string& headers, const std::string& url) {
  if (HttpSendRequestA(request.request.Get(), headers.empty() ? nullptr : headers.c_str(),
                       static_cast<DWORD>(headers.size()), nullptr, 0))
    return NOLKRESULT_OK;
  const DWORD code = GetLastError();
  LogPrint(IsConnectFailure(code) ? "InternetConnect returned %d (%s) for url %s\n"
                                  : "HttpSendRequest returned %d (%s) for url %s\n",
           static_cast<int>(code), InternetErrorText(code).c_str(), url.c_str());
  return NOLKRESULT_CONNECTION_LOST;
}

long StatusOf(const Request& request) {
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &length, nullptr))
    return 0;
  return static_cast<long>(status);
}

std::string HeaderOf(const Request& request, DWORD header) {
  std::vector<char> value(256);
  for (;;) {
    DWORD length = static_cast<DWORD>(value.size());
    if (HttpQueryInfoA(request.request.Get(), header, value.data(), &length, nullptr))
      return std::string(value.data(), length);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    value.resize(length + 1);
  }
}

void KeepValidator(const Request& request, HttpResumePoint& resume) {
  resume.etag = NolkInetInternal::StrongEtag(HeaderOf(request, HTTP_QUERY_ETAG));
  resume.lastModified = HeaderOf(request, HTTP_QUERY_LAST_MODIFIED);
}

// Before the first byte of the body: an error status fails the attempt,
// a range must start where it was asked for, a whole resource sent for a
// range request is written again from the restart position.
NolkResult StartBody(const Request& request, NolkDataBuffer& destination, bool asksRange,
                     std::uint64_t resumeOffset, std::uint64_t restartPosition, const std::string& url) {
  const long status = StatusOf(request);
  if (!NolkInetInternal::IsSuccessStatus(status)) {
    LogPrint("HttpSendRequest> server answered with status %ld for url %s\n", status, url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  if (!asksRange) return NOLKRESULT_OK;
  if (status == 206) {
    const std::string range = HeaderOf(request, HTTP_QUERY_CONTENT_RANGE);
    if (NolkInetInternal::RangeStartsAt(range, resumeOffset)) return NOLKRESULT_OK;
    LogPrint("HttpSendRequest> server sent the range %s, not the one asked for, for url %s\n", range.c_str(),
             url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  if (destination.SetSize(restartPosition) != NOLKRESULT_OK ||
      destination.SetPosition(restartPosition) != NOLKRESULT_OK)
    return NOLKRESULT_FILE_ERROR;
  return NOLKRESULT_OK;
}

// The body in chunks of at most 16,384 bytes, the stop check before each.
// A body shorter than its Content-Length is a lost connection.
NolkResult ReadBody(const Request& request, NolkDataBuffer& destination, DownloadURLCallback* callback) {
  std::vector<char> block(kReadBlockBytes);
  std::uint64_t received = 0;
  const std::string lengthText = HeaderOf(request, HTTP_QUERY_CONTENT_LENGTH);
  const bool hasLength =
      !lengthText.empty() && lengthText.find_first_not_of("0123456789") == std::string::npos;
  const std::uint64_t expected = hasLength ? std::stoull(lengthText) : 0;
  for (;;) {
    if (callback != nullptr && callback->StopRequested()) return NOLKRESULT_CLOSED;
    DWORD got = 0;
    if (!InternetReadFile(request.request.Get(), block.data(), kReadBlockBytes, &got)) {
      const DWORD code = GetLastError();
      LogPrint("InternetReadFile returned %d (%s) with actualByteCount=%llu\n", static_cast<int>(code),
               InternetErrorText(code).c_str(), static_cast<unsigned long long>(received));
      return NOLKRESULT_CONNECTION_LOST;
    }
    if (got == 0) {
      if (!hasLength || received >= expected) return NOLKRESULT_OK;
      LogPrint("InternetReadFile returned %d (%s) with actualByteCount=%llu\n",
               static_cast<int>(kConnectionReset), InternetErrorText(kConnectionReset).c_str(),
               static_cast<unsigned long long>(received));
      return NOLKRESULT_CONNECTION_LOST;
    }
    const NolkResult written = destination.WriteData(block.data(), got);
    if (written != NOLKRESULT_OK) {
      LogPrint("WriteData returned %d\n", written);
      return written;
    }
    received += got;
  }
}

}  // namespace

NolkResult HttpGet(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                   DownloadURLCallback* callback, HttpResumePoint& resume, std::uint64_t resumeOffset,
                   std::uint64_t restartPosition) {
  Request request;
  NolkResult result = OpenRequest(url, "GET", flags, request);
  if (result != NOLKRESULT_OK) return result;
  const bool asksRange = resumeOffset > 0 && resume.HasValidator();
  result = Send(request, RequestHeaders(flags, resume, resumeOffset), url);
  if (result != NOLKRESULT_OK) return result;
  if (callback != nullptr && callback->StopRequested()) return NOLKRESULT_CLOSED;
  result = StartBody(request, destination, asksRange, resumeOffset, restartPosition, url);
  if (result != NOLKRESULT_OK) return result;
  KeepValidator(request, resume);
  if (resume.onBodyStart) resume.onBodyStart(resume);
  return ReadBody(request, destination, callback);
}

NolkResult HttpGetSize(const std::string& url, std::uint64_t& size) {
  size = 0;
  Request request;
  NolkResult result = OpenRequest(url, "HEAD", 0, request);
  if (result != NOLKRESULT_OK) return result;
  result = Send(request, std::string(), url);
  if (result != NOLKRESULT_OK) return result;
  const long status = StatusOf(request);
  if (!NolkInetInternal::IsSuccessStatus(status)) {
    LogPrint("HttpSendRequest> server answered with status %ld for url %s\n", status, url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  const std::string length = HeaderOf(request, HTTP_QUERY_CONTENT_LENGTH);
  if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos) {
    LogPrint("HttpQueryInfo returned %d for url %s (no Content-Length)\n", kHeaderNotFound, url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  size = std::stoull(length);
  return NOLKRESULT_OK;
}

}  // namespace NolkUtil
