// The files-in-use check before a patch run and the database rebuild by the
// game's utility after it.
#include "patch/AssetDatabaseRebuild.h"

#include <memory>
#include <string>

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

// One of the utility's output streams while it is relayed. Windows programs
// end their lines with CR LF; the log's lines end with LF alone, so each
// CR LF is relayed as LF, also when a read ends between the two.
struct RelayedStream {
  const StreamReader& read;
  int level;
  bool open = true;
  bool heldReturn = false;  // the last piece ended with CR; it waits for the next

  // Reads one piece and reports it; `open` says whether the stream still is.
  void RelayPiece() {
    std::string piece;
    open = read(piece);
    if (heldReturn) piece.insert(piece.begin(), '\r');
    heldReturn = open && !piece.empty() && piece.back() == '\r';
    if (heldReturn) piece.pop_back();
    std::string text;
    text.reserve(piece.size());
    for (std::size_t i = 0; i < piece.size(); ++i) {
      if (piece[i] != '\r' || i + 1 >= piece.size() || piece[i + 1] != '\n') text += piece[i];
    }
    if (!text.empty()) LogSinkReport(level, NolkUtil::ToWide(text));
  }
};

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
  RelayedStream output{readOutput, kLevelInformation};
  RelayedStream error{readError, kLevelWarning};
  while (output.open || error.open) {
    if (output.open) output.RelayPiece();
    if (error.open) error.RelayPiece();
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
