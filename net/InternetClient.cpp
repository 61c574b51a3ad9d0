#include "net/InternetClient.h"

#include "net/InternetSession.h"
#include "net/NolkFTP.h"
#include "net/UrlParts.h"

namespace NolkUtil {
namespace {

bool StopRequested(DownloadURLCallback* callback) {
  return callback && callback->StopRequested();
}

NolkResult DownloadFtp(const UrlParts& parts, NolkDataBuffer& destination, DownloadURLCallback* callback) {
  NolkResult result = NOLKRESULT_CONNECTION_LOST;
  for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
    if (attempt > 0) NolkInetInternal::PauseBeforeRetry();
    NolkFTP ftp;
    result = ftp.Open(parts.host, parts.user, parts.password, true, parts.port);
    if (result != NOLKRESULT_OK) continue;
    result = ftp.GetFileAtPath(parts.path, destination, callback);
    if (result == NOLKRESULT_OK || result == NOLKRESULT_CLOSED) return result;
    if (StopRequested(callback)) return result;
  }
  return result;
}

// The bytes an attempt left behind are kept only when the next one can
// ask for the rest of the same resource; otherwise back to the start.
bool PrepareNextAttempt(NolkDataBuffer& destination, std::uint64_t start, const HttpResumePoint& resume) {
  if (resume.HasValidator() && destination.GetPosition() > start) return true;
  return destination.SetSize(start) == NOLKRESULT_OK && destination.SetPosition(start) == NOLKRESULT_OK;
}

NolkResult DownloadHttp(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                        DownloadURLCallback* callback, HttpResumePoint& resume, bool keepPartial) {
  // With a validator the bytes before the position are an earlier run's
  // copy of the resource from its byte 0; without one the download is
  // written at the position and every retry starts there again.
  const std::uint64_t callStart = resume.HasValidator() ? 0 : destination.GetPosition();
  NolkResult result = NOLKRESULT_CONNECTION_LOST;
  for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
    if (attempt > 0) {
      if (StopRequested(callback)) return result;
      NolkInetInternal::PauseBeforeRetry();
      if (!PrepareNextAttempt(destination, callStart, resume)) return NOLKRESULT_FILE_ERROR;
    }
    const std::uint64_t offset = destination.GetPosition() - callStart;
    result = HttpGet(url, destination, flags, callback, resume, offset, callStart);
    if (result == NOLKRESULT_OK || result == NOLKRESULT_CLOSED) return result;
  }
  // The failed attempts' bytes are not the resource; only a caller that
  // keeps the validator beside them can go on from them later.
  if (!keepPartial || !resume.HasValidator()) {
    destination.SetSize(callStart);
    destination.SetPosition(callStart);
  }
  return result;
}

NolkResult FtpSize(const UrlParts& parts, std::uint64_t& size) {
  NolkResult result = NOLKRESULT_CONNECTION_LOST;
  for (int attempt = 0; attempt < kFtpSizeAttempts; ++attempt) {
    if (attempt > 0) NolkInetInternal::PauseBeforeRetry();
    NolkFTP ftp;
    result = ftp.Open(parts.host, parts.user, parts.password, true, parts.port);
    if (result == NOLKRESULT_OK) result = ftp.GetRemoteFileSize(parts.path, size);
    if (result == NOLKRESULT_OK) return result;
  }
  return result;
}

NolkResult HttpSize(const std::string& url, std::uint64_t& size) {
  NolkResult result = NOLKRESULT_CONNECTION_LOST;
  for (int attempt = 0; attempt < kHttpSizeAttempts; ++attempt) {
    if (attempt > 0) NolkInetInternal::PauseBeforeRetry();
    result = HttpGetSize(url, size);
    if (result == NOLKRESULT_OK) return result;
  }
  return result;
}

// The URL with the scheme a URL without one is taken to have.
std::string WithScheme(const std::string& url, const UrlParts& parts) {
  return url.find("://") == std::string::npos ? parts.scheme + "://" + url : url;
}

NolkResult DownloadWithScheme(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                              DownloadURLCallback* callback, HttpResumePoint& resume, bool keepPartial) {
  UrlParts parts;
  const NolkResult parsed = ParseURL(url, parts);
  if (parsed != NOLKRESULT_OK) return parsed;
  DefaultScheme(parts);
  if (parts.scheme == "ftp") return DownloadFtp(parts, destination, callback);
  if (parts.scheme == "http" || parts.scheme == "https")
    return DownloadHttp(WithScheme(url, parts), destination, flags, callback, resume, keepPartial);
  return NOLKRESULT_WRONG_FORMAT;
}

}  // namespace

NolkResult DownloadURL(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                       DownloadURLCallback* callback, HttpResumePoint& resume) {
  return DownloadWithScheme(url, destination, flags, callback, resume, true);
}

NolkResult DownloadURL(const std::string& url, NolkDataBuffer& destination, std::uint32_t flags,
                       DownloadURLCallback* callback) {
  HttpResumePoint resume;
  return DownloadWithScheme(url, destination, flags, callback, resume, false);
}

NolkResult GetURLSize(const std::string& url, std::uint64_t& size) {
  size = 0;
  UrlParts parts;
  const NolkResult parsed = ParseURL(url, parts);
  if (parsed != NOLKRESULT_OK) return parsed;
  DefaultScheme(parts);
  NolkResult result = NOLKRESULT_WRONG_FORMAT;
  if (parts.scheme == "ftp") result = FtpSize(parts, size);
  if (parts.scheme == "http" || parts.scheme == "https") result = HttpSize(WithScheme(url, parts), size);
  if (result != NOLKRESULT_OK) size = 0;
  return result;
}

}  // namespace NolkUtil
