#include "net/HttpClient.h"

#include <memory>

#include "KernelStandard/Log.h"
#include "net/CurlTransfer.h"

namespace NolkUtil {
namespace {

using NolkInetInternal::CurlHandle;
using NolkInetInternal::ResponseSink;

// The system code a missing header is reported with.
constexpr int kHeaderNotFound = 12150;

using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// The URL as libcurl takes it: scheme, host and port, path ("/" when the
// URL has none); user and password go as options.
std::string RequestUrl(const UrlParts& parts) {
  return parts.scheme + "://" + parts.host + ":" + std::to_string(parts.port) +
         (parts.path.empty() ? "/" : parts.path);
}

bool IsConnectFailure(CURLcode code) {
  return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
         code == CURLE_COULDNT_CONNECT || code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL;
}

NolkResult PrepareRequest(CurlHandle& handle, const std::string& url, UrlParts& parts) {
  if (!handle.IsValid()) {
    LogPrint("InternetConnect returned %d for url %s\n", static_cast<int>(CURLE_FAILED_INIT), url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  if (ParseURL(url, parts) != NOLKRESULT_OK) return NOLKRESULT_BAD_ARGUMENT;
  DefaultScheme(parts);
  if (DefaultPort(parts) != NOLKRESULT_OK) return NOLKRESULT_BAD_ARGUMENT;
  handle.PrepareTransfer();
  CURL* curl = handle.Get();
  curl_easy_setopt(curl, CURLOPT_URL, RequestUrl(parts).c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  if (!parts.user.empty()) curl_easy_setopt(curl, CURLOPT_USERNAME, parts.user.c_str());
  if (!parts.password.empty()) curl_easy_setopt(curl, CURLOPT_PASSWORD, parts.password.c_str());
  return NOLKRESULT_OK;
}

// The line and result of a failed transfer.
NolkResult ReportFailure(CurlHandle& handle, CURLcode code, const ResponseSink& sink,
                         const std::string& url) {
  if (sink.cancelled) return NOLKRESULT_CLOSED;
  if (sink.writeResult != NOLKRESULT_OK) return sink.writeResult;
  if (sink.badStatus) {
    LogPrint("HttpSendRequest> server answered with status %ld for url %s\n", sink.status, url.c_str());
  } else if (sink.badRange) {
    LogPrint("HttpSendRequest> server sent the range %s, not the one asked for, for url %s\n",
             sink.contentRange.c_str(), url.c_str());
  } else if (IsConnectFailure(code)) {
    LogPrint("InternetConnect returned %d (%s) for url %s\n", static_cast<int>(code),
             handle.ErrorText(code).c_str(), url.c_str());
  } else if (sink.bodyStarted) {
    LogPrint("InternetReadFile returned %d (%s) with actualByteCount=%llu\n", static_cast<int>(code),
             handle.ErrorText(code).c_str(), static_cast<unsigned long long>(sink.bytesWritten));
  } else {
    LogPrint("HttpSendRequest returned %d (%s) for url %s\n", static_cast<int>(code),
             handle.ErrorText(code).c_str(), url.c_str());
  }
  return NOLKRESULT_CONNECTION_LOST;
}

// A weak ETag ("W/...") may not be used for a range; Last-Modified serves
// then.
void KeepValidator(const ResponseSink& sink, HttpResumePoint& resume) {
  resume.etag = NolkInetInternal::StrongEtag(sink.etag);
  resume.lastModified = sink.lastModified;
}

HeaderList RequestHeaders(std::uint32_t flags, const HttpResumePoint& resume, std::uint64_t resumeOffset) {
  HeaderList headers(nullptr, &curl_slist_free_all);
  auto add = [&headers](const std::string& line) {
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  };
  add("Accept: */*");
  if (flags & kDownloadBypassCache) {
    add("Cache-Control: no-cache");
    add("Pragma: no-cache");
  }
  if (resumeOffset > 0 && resume.HasValidator()) {
    add("Range: bytes=" + std::to_string(resumeOffset) + "-");
    add("If-Range: " + (resume.etag.empty() ? resume.lastModified : resume.etag));
  }
  return headers;
}

}  // namespace

NolkResult HttpGet(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                   DownloadURLCallback* callback, HttpResumePoint& resume, std::uint64_t resumeOffset,
                   std::uint64_t restartPosition) {
  CurlHandle handle;
  UrlParts parts;
  const NolkResult prepared = PrepareRequest(handle, url, parts);
  if (prepared != NOLKRESULT_OK) return prepared;
  const bool asksRange = resumeOffset > 0 && resume.HasValidator();
  HeaderList headers = RequestHeaders(flags, resume, resumeOffset);
  curl_easy_setopt(handle.Get(), CURLOPT_HTTPHEADER, headers.get());
  ResponseSink sink;
  sink.destination = &destination;
  sink.callback = callback;
  sink.isHttp = true;
  sink.requestedOffset = asksRange ? resumeOffset : 0;
  sink.restartPosition = restartPosition;
  sink.onBodyStart = [&sink, &resume] {
    KeepValidator(sink, resume);
    if (resume.onBodyStart) resume.onBodyStart(resume);
  };
  NolkInetInternal::AttachSink(handle, sink);
  const CURLcode code = curl_easy_perform(handle.Get());
  if (sink.bodyStarted || code == CURLE_OK) KeepValidator(sink, resume);
  if (code == CURLE_OK && !sink.bodyStarted) {
    // No body at all: the status still decides.
    curl_easy_getinfo(handle.Get(), CURLINFO_RESPONSE_CODE, &sink.status);
    sink.badStatus = !NolkInetInternal::IsSuccessStatus(sink.status);
    if (!sink.badStatus && asksRange && sink.status != 206 &&
        (destination.SetSize(restartPosition) != NOLKRESULT_OK ||
         destination.SetPosition(restartPosition) != NOLKRESULT_OK))
      return NOLKRESULT_FILE_ERROR;
    if (sink.badStatus) return ReportFailure(handle, code, sink, url);
  }
  if (code != CURLE_OK) return ReportFailure(handle, code, sink, url);
  return NOLKRESULT_OK;
}

NolkResult HttpGetSize(const std::string& url, std::uint64_t& size) {
  size = 0;
  CurlHandle handle;
  UrlParts parts;
  const NolkResult prepared = PrepareRequest(handle, url, parts);
  if (prepared != NOLKRESULT_OK) return prepared;
  curl_easy_setopt(handle.Get(), CURLOPT_NOBODY, 1L);
  ResponseSink sink;
  sink.isHttp = true;
  NolkInetInternal::AttachSink(handle, sink);
  const CURLcode code = curl_easy_perform(handle.Get());
  if (code != CURLE_OK) return ReportFailure(handle, code, sink, url);
  curl_easy_getinfo(handle.Get(), CURLINFO_RESPONSE_CODE, &sink.status);
  if (!NolkInetInternal::IsSuccessStatus(sink.status)) {
    sink.badStatus = true;
    return ReportFailure(handle, code, sink, url);
  }
  curl_off_t length = -1;
  if (curl_easy_getinfo(handle.Get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    LogPrint("HttpQueryInfo returned %d for url %s (no Content-Length)\n", kHeaderNotFound, url.c_str());
    return NOLKRESULT_CONNECTION_LOST;
  }
  size = static_cast<std::uint64_t>(length);
  return NOLKRESULT_OK;
}

}  // namespace NolkUtil
