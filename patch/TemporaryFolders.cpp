#include "KernelStandard/FileUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/RunDriver.h"

namespace NolkPatch {
namespace {

// Names already taken (left over from an earlier run, or another process's
// folder) are skipped, so a fresh folder never holds someone else's files.
constexpr int kNameAttempts = 100;

}  // namespace

// An empty TEMP counts as unset, as it does on Windows: otherwise the
// archive would land in the current folder.
std::wstring TemporaryRoot() {
  std::string temp;
  if (OS::Current().GetEnvironment("TEMP", temp) && !temp.empty()) return OS::FromUtf8(temp);
  return OS::Current().SystemTempFolder();
}

bool MakeTemporaryFolder(std::wstring& folder) {
  const std::wstring root = TemporaryRoot();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    folder = NolkUtil::MakeTempFileName(root);
    if (OS::Current().Exists(folder)) continue;
    return NolkUtil::MakeDirectory(folder);
  }
  return false;
}

}  // namespace NolkPatch
