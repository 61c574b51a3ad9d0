// The part of NolkFTP that is the same on every library: a fetch goes on
// from the destination's length.
#include "KernelStandard/Log.h"
#include "net/NolkFTP.h"

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
