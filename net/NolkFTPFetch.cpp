// The part of NolkFTP that is the same on every library: a fetch goes on
// from the destination's length, and a refused resume starts it again from
// byte 0.
#include "KernelStandard/Log.h"
#include "net/NolkFTP.h"

namespace {
constexpr int kFetchAttempts = 2;
}  // namespace

bool NolkFTP::ResumeStart(const std::string& path, NolkDataBuffer& destination, std::uint64_t& start) {
  start = destination.GetSize();
  if (start > 0)
    LogPrint("NolkFTP::GetFileAtPath> resuming download of \"%s\" at byte %llu.\n", path.c_str(),
             static_cast<unsigned long long>(start));
  return destination.SetPosition(start) == NOLKRESULT_OK;
}

NolkResult NolkFTP::GetFileAtPath(const std::string& path, NolkDataBuffer& destination,
                                  DownloadURLCallback* callback) {
  if (!m_connected) return NOLKRESULT_NOT_OPEN;
  std::uint64_t start = 0;
  if (!ResumeStart(path, destination, start)) return NOLKRESULT_FILE_ERROR;
  return FetchFile(path, destination, callback, start);
}

NolkResult NolkFTP::FetchFile(const std::string& path, NolkDataBuffer& destination,
                              DownloadURLCallback* callback, std::uint64_t start) {
  for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
    bool cancelled = false;
    bool bodyStarted = false;
    NolkResult writeResult = NOLKRESULT_OK;
    const int code = FetchOnce(path, destination, callback, start, cancelled, writeResult, bodyStarted);
    if (code == 0) return NOLKRESULT_OK;
    if (cancelled) return NOLKRESULT_CLOSED;
    if (writeResult != NOLKRESULT_OK) return writeResult;
    if (start > 0 && IsResumeRefusal(code)) {
      LogPrint("NolkFTP::GetFileAtPath> unable to resume download of \"%s\" (error %d).\n", path.c_str(),
               static_cast<int>(code));
      start = 0;
      if (destination.SetSize(0) != NOLKRESULT_OK || destination.SetPosition(0) != NOLKRESULT_OK)
        return NOLKRESULT_FILE_ERROR;
      continue;
    }
    if (bodyStarted) {
      LogPrint("InternetReadFile returned %d (%s) with actualByteCount=%llu\n", static_cast<int>(code),
               ErrorText(code).c_str(), static_cast<unsigned long long>(destination.GetSize() - start));
      return NOLKRESULT_CONNECTION_LOST;
    }
    if (attempt + 1 < kFetchAttempts) Reconnect(true);
    if (!m_connected) break;
  }
  LogPrint("FtpOpenFile returned %d (%s).\n", static_cast<int>(m_lastError), ErrorText(m_lastError).c_str());
  return NOLKRESULT_CONNECTION_LOST;
}
