// The files-in-use check before a patch run and the database rebuild by the
// game's utility after it.
#include "patch/AssetDatabaseRebuild.h"

#include <memory>

#include "KernelStandard/ChildProcess.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/AssetDatabase.h"
#include "patch/AssetDatabaseBlock.h"
#include "patch/PatchSettings.h"
#include "patch/ProgressAnimation.h"

namespace NolkPatch {
namespace {

constexpr int kInUseAttempts = 3;
constexpr std::uint32_t kInUseRetryPauseMs = 2000;
constexpr int kLevelInformation = 0;
constexpr int kLevelWarning = 1;
constexpr int kLevelError = 2;

const wchar_t* const kUpdatingMessage =
    L"\nUpdating Ombrix asset database... (this may take several minutes)";
const wchar_t* const kLaunchFailedMessage =
    L"Failed to launch OmbrixUtil to repair the Ombrix asset database.\n"
    L"Please repair the database manually from Content Manager.";
const wchar_t* const kUtilityPath = L"bin\\OmbrixUtil.exe";
const wchar_t* const kUtilityArguments = L"repairdatabase patcher norender";

std::string DatabasePath() {
  return NolkUtil::ToNarrow(NolkUtil::JoinPath(PatchSettings::Get().InstallPath, L"assets.odx"));
}

// One attempt: connected, and no other program attached, so the hold is
// ours. A block that does not count attachments cannot tell, so it is left
// for the next attempt.
bool TryHoldDatabase(const std::string& databasePath) {
  if (!ConnectDatabaseIpc(databasePath, false)) return false;
  const std::uint8_t count = GetAttachedCount();
  if (count == AssetDatabaseBlock::kUnknownCount) {
    DisconnectDatabaseIpc();
    return false;
  }
  return static_cast<std::int8_t>(count) <= 1 && TakeExclusiveHold();
}

// Reads one piece of a stream that is still open and reports it; returns
// whether the stream is still open.
bool RelayPiece(const StreamReader& read, int level) {
  std::string piece;
  const bool open = read(piece);
  if (!piece.empty()) LogSinkReport(level, NolkUtil::ToWide(piece));
  return open;
}

// The progress bar moves from half to full while the utility runs; the
// duration of this animation is fixed, so it takes no minutes.
std::unique_ptr<ProgressAnimation> StartRepairAnimation() {
  return StartProgressAnimation(AnimationKind::DatabaseRepair, 0);
}

}  // namespace

bool CheckFilesNotInUse() {
  const std::string databasePath = DatabasePath();
  for (int attempt = 0; attempt < kInUseAttempts; ++attempt) {
    if (TryHoldDatabase(databasePath)) return true;
    OS::Current().Sleep(kInUseRetryPauseMs);
  }
  return false;
}

void RelayToolOutput(const StreamReader& readOutput, const StreamReader& readError) {
  bool outputOpen = true;
  bool errorOpen = true;
  while (outputOpen || errorOpen) {
    if (outputOpen) outputOpen = RelayPiece(readOutput, kLevelInformation);
    if (errorOpen) errorOpen = RelayPiece(readError, kLevelWarning);
  }
}

bool RebuildAssetDatabase() {
  LendOwnership();
  LogSinkReport(kLevelInformation, kUpdatingMessage);
  const std::wstring utility = NolkUtil::JoinPath(PatchSettings::Get().InstallPath, kUtilityPath);
  std::unique_ptr<ChildProcess> child = NolkUtil::LaunchProcess(utility, kUtilityArguments);
  if (!child) {
    LogSinkReport(kLevelError, kLaunchFailedMessage);
    RetakeOwnership();
    return false;
  }
  std::unique_ptr<ProgressAnimation> animation = StartRepairAnimation();
  RelayToolOutput([&child](std::string& text) { return child->ReadOutput(text); },
                  [&child](std::string& text) { return child->ReadError(text); });
  const bool ended = child->Wait(-1);
  const int exitCode = ended ? child->GetExitCode() : -1;
  if (animation) animation->Stop();
  child->Close();
  RetakeOwnership();
  if (exitCode == 0) return true;
  LogSinkReport(kLevelError, L"OmbrixUtil ended with code " + std::to_wstring(exitCode) +
                                 L"; the Ombrix asset database was not rebuilt.");
  return false;
}

}  // namespace NolkPatch
