#include <limits>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/PatchArchive.h"
#include "patch/PatchGuard.h"
#include "patch/PatchSettings.h"
#include "patch/ProgressAnimation.h"
#include "patch/RunDriver.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kLevelInfo = 0;
constexpr int kLevelError = 2;
constexpr int kTextNoTempFolder = 146;
constexpr int kTextUnpacking = 149;
constexpr int kTextUnpackFailed = 150;
constexpr int kTextPatching = 151;
constexpr int kTextApplyFailed = 152;
constexpr double kBytesPerMegabyte = 1048576.0;

std::unique_ptr<ProgressAnimation> StartUnpackAnimation(const std::wstring& archivePath) {
  std::uint64_t size = 0;
  NolkUtil::GetFileSize(archivePath, size);  // an unreadable size animates for 0 minutes
  return StartProgressAnimation(AnimationKind::Unpack, UnpackAnimationMinutes(size));
}

int UnpackAndApplyIn(const std::wstring& archivePath, const std::wstring& unpackFolder) {
  LogSinkReport(kLevelInfo, LoadMessageText(kTextUnpacking));
  if (!UnpackPatchArchive(archivePath, unpackFolder)) {
    LogSinkReport(kLevelError, LoadMessageText(kTextUnpackFailed));
    return kUnpackFailed;
  }
  LogSinkReport(kLevelInfo, LoadMessageText(kTextPatching));
  if (!ApplyPatchGuarded(unpackFolder)) {
    LogSinkReport(kLevelError,
                  LoadMessageText(kTextApplyFailed) + NolkUtil::ToWide(PatchSettings::Get().PatchName()));
    return kUnpackFailed;
  }
  return kUnpackApplied;
}

}  // namespace

int UnpackAnimationMinutes(std::uint64_t archiveBytes) {
  const double minutes = 2.0 * (static_cast<double>(archiveBytes) / kBytesPerMegabyte);
  constexpr double kLargest = std::numeric_limits<std::int32_t>::max();
  if (minutes >= kLargest) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(minutes);
}

int UnpackAndApply(const std::wstring& archivePath) {
  std::wstring unpackFolder;
  if (!MakeTemporaryFolder(unpackFolder)) {
    LogSinkReport(kLevelError, LoadMessageText(kTextNoTempFolder));
    return kUnpackNoTempFolder;
  }
  std::unique_ptr<ProgressAnimation> animation = StartUnpackAnimation(archivePath);
  const int result = UnpackAndApplyIn(archivePath, unpackFolder);
  NolkUtil::RemoveDirectoryTree(unpackFolder);
  if (animation) animation->Stop();
  return result;
}

}  // namespace NolkPatch
