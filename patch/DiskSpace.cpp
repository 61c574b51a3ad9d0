#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/PatchSettings.h"
#include "patch/RunDriver.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kLevelInfo = 0;
constexpr int kTextCheckingSpace = 241;
constexpr int kTextSpaceUnknown = 242;
constexpr std::uint64_t kBytesPerMegabyte = 1048576;

// Whether the free space of the folder's volume could be read; `enough`
// tells whether it reaches the required bytes.
bool ReadFreeSpace(const std::wstring& folder, std::uint64_t requiredBytes, bool& enough) {
  std::uint64_t freeBytes = 0;
  const bool known = GetFreeBytes(folder, freeBytes);
  enough = !known || freeBytes >= requiredBytes;
  return known;
}

}  // namespace

bool GetFreeBytes(const std::wstring& folder, std::uint64_t& bytes) {
  if (folder.empty()) return false;
  const std::wstring volumeFolder = NolkUtil::JoinPath(NolkUtil::NormalizeSeparators(folder), L"");
  return OS::Current().GetFreeBytes(volumeFolder, bytes);
}

// The disk-check folder stays behind: it only marks the temporary volume.
bool CheckDiskSpace(unsigned requiredMegabytes) {
  const std::uint64_t requiredBytes = std::uint64_t{requiredMegabytes} * kBytesPerMegabyte;
  LogSinkReport(kLevelInfo, LoadMessageText(kTextCheckingSpace));
  std::wstring checkFolder;
  if (!MakeTemporaryFolder(checkFolder)) return false;
  bool enough = true;
  const bool temporaryKnown = ReadFreeSpace(checkFolder, requiredBytes, enough);
  if (!enough) return false;
  const bool installKnown = ReadFreeSpace(PatchSettings::Get().InstallPath, requiredBytes, enough);
  if (!enough) return false;
  if (!temporaryKnown || !installKnown) LogSinkReport(kLevelInfo, LoadMessageText(kTextSpaceUnknown));
  return true;
}

}  // namespace NolkPatch
