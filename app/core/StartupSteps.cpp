#include "app/core/StartupSteps.h"

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"
#include "app/core/Messaging.h"
#include "app/core/Rights.h"
#include "app/core/RunDrivers.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kTextNeedsAdmin = 132;
constexpr int kCaptionNeedsAdmin = 134;

bool IsAbsolute(const std::wstring& path) {
  if (path.empty()) return true;
  if (path[0] == L'/' || path[0] == L'\\') return true;
  return path.size() >= 2 && path[1] == L':';
}

}  // namespace

std::vector<wxString> ProgramArguments(int argc, char** argv) {
  std::vector<wxString> arguments;
  for (int i = 0; i < argc; ++i) {
    wxString argument = wxString::FromUTF8(argv[i]);
    if (argument.empty() && argv[i][0] != '\0') argument = wxString(argv[i], wxConvLibc);
    arguments.push_back(argument);
  }
  return arguments;
}

// The settings keep the installation path for the whole run.
void FindInstallPathIfMissing() {
  Vek::ProcessLifetimeScope keptForTheRun;
  std::wstring& installPath = PatchSettings::Get().InstallPath;
  const RunDriverHooks& hooks = GetRunDriverHooks();
  if (installPath.empty() && hooks.findProductInstallPath)
    installPath = hooks.findProductInstallPath(L"OmbrixSimulator", L"Ombrix");
}

void MakeInstallPathAbsolute() {
  Vek::ProcessLifetimeScope keptForTheRun;
  std::wstring& installPath = PatchSettings::Get().InstallPath;
  if (!IsAbsolute(installPath))
    installPath = NolkUtil::JoinPath(OS::Current().GetCurrentDirectory(), installPath);
}

bool HasRightsOrRelaunched(const std::wstring& programPath, const AppSwitches& switches,
                           const MessageBoxFunction& messageBox) {
  if (switches.adminSwitch) {
    if (CanWriteInstallation(PatchSettings::Get().InstallPath)) return true;
    messageBox(LoadMessageText(kTextNeedsAdmin), LoadMessageText(kCaptionNeedsAdmin));
    return false;
  }
  return !RelaunchElevated(programPath, switches, messageBox);
}

bool HasOperation() {
  const PatchSettings& settings = PatchSettings::Get();
  return settings.DownloadMode() || settings.RepairMode || settings.StandaloneMode();
}

void ReportNoOperation() {
  PostPatchMessage(2, L"No valid patch operation was specified. Patching aborted.");
}

}  // namespace NolkPatch
