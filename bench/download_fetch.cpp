// The download half of a download-mode run, as the patch worker does it
// for one archive: the size query, then the archive written into its file
// through the online patch list (the byte counting, the progress gauge's
// observer, the final flush to disk; built with keys, the SHA-256 taken
// during the download). bench/download.sh times it beside
// curl fetching the same URL.
//
// usage: korvel-bench-download URL DESTINATION
// Prints "<seconds> <bytes>" on success.
#include <chrono>
#include <cstdio>
#include <string>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/TextConvert.h"
#include "app/core/StandardRunDrivers.h"
#include "patch/PatchList.h"

namespace {

class NeverStop final : public DownloadURLCallback {
 public:
  bool StopRequested() override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL DESTINATION\n", argv[0]);
    return 2;
  }
  NolkPatch::InstallStandardRunDrivers();
  const std::wstring url = NolkUtil::ToWide(argv[1]);
  const std::wstring destination = NolkUtil::ToWide(argv[2]);
  NolkPatch::OnlinePatchList list;
  NeverStop callback;
  const auto start = std::chrono::steady_clock::now();
  const bool sized = list.QueryDownloadSize(url);
  const bool downloaded = list.DownloadPatch(url, destination, &callback);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::uint64_t size = 0;
  if (!sized || !downloaded || NolkUtil::GetFileSize(destination, size) != NOLKRESULT_OK ||
      size != list.Progress().expected) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  // A patcher with keys that got no digest during the download reads the
  // whole archive again before it trusts it; a time without that read
  // would flatter it.
  if (list.VerifiesSignatures() && !list.DownloadedDigest()) {
    std::fprintf(stderr, "no SHA-256 was taken during the download\n");
    return 1;
  }
  std::printf("%.3f %llu\n", seconds, static_cast<unsigned long long>(size));
  return 0;
}
