#include "app/core/PatchJob.h"

#include "app/core/Rights.h"
#include "app/core/RunDrivers.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr std::uint16_t kEnglish = 9;
constexpr int kTextNeedsAdmin = 132;
constexpr int kCaptionNeedsAdmin = 134;
constexpr int kTextNeedsAdminShort = 154;
constexpr int kTextFilesInUse = 157;
constexpr int kTextFilesInUseBox = 158;
constexpr int kCaptionFilesInUse = 159;
constexpr int kTextCompleted = 162;
constexpr int kTextAborted = 163;
constexpr int kTextDiskSpace = 240;
constexpr unsigned kRequiredMegabytes = 4096;

using RunDriver = std::function<bool(PatchRunContext&)>;

// The table text carries a "%d" for the size; it is filled in by text
// replacement, so a table text is never used as a format string.
std::wstring DiskSpaceText() {
  std::wstring text = LoadMessageText(kTextDiskSpace);
  const std::size_t placeholder = text.find(L"%d");
  if (placeholder != std::wstring::npos) text.replace(placeholder, 2, std::to_wstring(kRequiredMegabytes));
  return text;
}

bool RunWithDriver(const RunDriver& driver, const wchar_t* driverName, PatchRunContext& context) {
  if (!driver) {
    PostPatchMessage(2, std::wstring(L"This build of the patcher cannot run this operation (") + driverName +
                            L" missing).");
    return false;
  }
  return driver(context);
}

bool HasWriteAccess(PatchJobHost& host) {
  if (CanWriteInstallation(PatchSettings::Get().InstallPath)) return true;
  PostPatchMessage(2, LoadMessageText(kTextNeedsAdminShort));
  host.ShowMessageBox(LoadMessageText(kTextNeedsAdmin), LoadMessageText(kCaptionNeedsAdmin));
  return false;
}

bool DatabaseIsFree(PatchJobHost& host) {
  const RunDriverHooks& hooks = GetRunDriverHooks();
  if (!hooks.filesNotInUse || hooks.filesNotInUse()) return true;
  PostPatchMessage(2, LoadMessageText(kTextFilesInUse));
  host.ShowMessageBox(LoadMessageText(kTextFilesInUseBox), LoadMessageText(kCaptionFilesInUse));
  host.EnableApply(true);
  return false;
}

bool HasDiskSpace() {
  const RunDriverHooks& hooks = GetRunDriverHooks();
  if (!hooks.checkDiskSpace || hooks.checkDiskSpace(kRequiredMegabytes)) return true;
  PostPatchMessage(2, DiskSpaceText());
  return false;
}

bool RunSelectedMode(PatchJobHost& host, KorvelPatchTask& task) {
  const RunDriverHooks& hooks = GetRunDriverHooks();
  const PatchSettings& settings = PatchSettings::Get();
  PatchRunContext context{task, [&host] { return host.CancelRequested(); }};
  if (settings.RepairMode) return RunWithDriver(hooks.runRepair, L"repair run", context);
  if (!HasDiskSpace()) return false;
  if (settings.StandaloneMode())
    return RunWithDriver(hooks.runStandalone, L"standalone patch driver", context);
  if (settings.DownloadMode()) return RunWithDriver(hooks.runDownload, L"download patch driver", context);
  return false;
}

void ReleaseDatabase() {
  const RunDriverHooks& hooks = GetRunDriverHooks();
  if (hooks.releaseDatabase) hooks.releaseDatabase();
}

}  // namespace

bool RunPatchJob(PatchJobHost& host, KorvelPatchTask& task) {
  SetMessageLanguage(kEnglish);
  const bool succeeded = HasWriteAccess(host) && DatabaseIsFree(host) && RunSelectedMode(host, task);
  PostPatchMessage(0, LoadMessageText(succeeded ? kTextCompleted : kTextAborted));
  ReleaseDatabase();
  PostThreadDone();
  return succeeded;
}

bool RunPatchJob(PatchJobHost& host) {
  KorvelPatchTask task;
  return RunPatchJob(host, task);
}

wxThread::ExitCode PatchThread::Body() {
  m_succeeded = RunPatchJob(m_host, *this);
  return 0;
}

void AdvanceRepairStage(int& counter, int target) {
  static const wchar_t* const kStageTexts[] = {
      L"Scanning installed files. This may take a while.",
      L"Connecting to patch servers.",
      L"Preparing download list.",
      L"Receiving updated files.",
  };
  while (counter < target) {
    const int stage = counter++;
    if (stage >= 1 && stage <= 4) PostPatchMessage(0, kStageTexts[stage - 1]);
  }
}

}  // namespace NolkPatch
