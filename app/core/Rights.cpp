#include "app/core/Rights.h"

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "patch/PatchSettings.h"
#include "patch/TemporaryFolders.h"
#include "resources/MessageText.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkPatch {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\Korvel\\Products\\OmbrixSimulator";
constexpr int kTextNeedsAdmin = 132;
constexpr int kCaptionNeedsAdmin = 134;
constexpr int kTextProcessFailed = 138;
constexpr int kOnExitWaitMs = 1000;

// The run writes the registry only to set its "IsPatching" marker, and
// only under a product key that exists (PatchingFlag.cpp). A store without
// that key is left alone: testing it would create the store as a side
// effect, and ask for root for a write that never comes. A store that
// cannot be read at all counts as not writable.
bool CanWriteRegistry() {
  const OS::RegistryStore& store = OS::RegistryStore::Default();
  if (store.KeyExists(kProductKey)) return store.CanWrite(kProductKey);
  return OS::GetLastError() == OS::ERROR_FILE_NOT_FOUND;
}

// The archive and the unpack folders go to the temporary root (a private
// folder inside a shared one), which is made here as the run would.
bool CanWriteTemporaryRoot() {
  std::wstring root;
  return PrepareTemporaryRoot(root) && OS::Current().CanWriteFolder(root);
}

// Files are added and replaced in the installation's root and bin folder
// (an existing one). A missing installation folder has nothing to write.
bool CanWriteInstallationFolders(const std::wstring& folder) {
  for (const std::wstring& candidate : {folder, NolkUtil::JoinPath(folder, L"bin")}) {
    OS::FileInfo info;
    if (OS::Current().Stat(candidate, info) && info.isDirectory && !OS::Current().CanWriteFolder(candidate))
      return false;
  }
  return true;
}

bool CanOpenMainExecutable(const std::wstring& folder) {
  const std::wstring executable = NolkUtil::JoinPath(folder, L"bin/Ombrix.exe");
  if (!OS::Current().Exists(executable)) return true;
  NolkDataBufferFile file(executable, NolkDataBufferFile::WriteUpdate);
  return file.IsOpen();
}

// Starts the program as an administrator and waits for it; false when
// that cannot be done or the user refused.
bool RunElevated(const std::wstring& programPath, const std::string& arguments) {
  return OS::Current().RunElevated(programPath, NolkUtil::ToWide(arguments));
}

}  // namespace

bool CanWriteInstallation(const std::wstring& folder) {
  if (!CanWriteRegistry() || !CanWriteTemporaryRoot()) return false;
  if (folder.empty()) return true;  // not found yet: nothing to test
  return CanWriteInstallationFolders(folder) && CanOpenMainExecutable(folder);
}

std::string BuildRelaunchArguments() {
  const PatchSettings& settings = PatchSettings::Get();
  std::string arguments = "--admin ";
  if (settings.RepairMode) arguments += "--repair ";
  if (!settings.PatchServers.empty()) {
    arguments += "--server=\"";
    for (std::size_t i = 0; i < settings.PatchServers.size(); ++i) {
      if (i > 0) arguments += ";";
      arguments += NolkUtil::ToNarrow(settings.PatchServers[i]);
    }
    arguments += "\" ";
  }
  arguments += "--final=" + settings.FinalVersion() + " " + settings.CurrentVersion() + " \"" +
               NolkUtil::ToNarrow(settings.InstallPath) + "\"";
  return arguments;
}

bool RelaunchElevated(const std::wstring& programPath, const AppSwitches& switches,
                      const MessageBoxFunction& messageBox) {
  if (CanWriteInstallation(PatchSettings::Get().InstallPath)) return false;
  const std::string arguments = BuildRelaunchArguments();
  LogPrint("parm: %s", arguments.c_str());
  if (!RunElevated(programPath, arguments) && messageBox) {
    messageBox(LoadMessageText(kTextNeedsAdmin), LoadMessageText(kCaptionNeedsAdmin));
  }
  LaunchOnExitProgram(switches);
  return true;
}

void LaunchOnExitProgram(const AppSwitches& switches) {
  if (!switches.onExitGiven || switches.onExitCommand.empty()) return;
  const std::vector<std::string> argv = OS::SplitCommandLine(OS::ToUtf8(switches.onExitCommand));
  int pid = -1;
  if (argv.empty() || !OS::Current().SpawnDetached(argv, pid)) {
    const int error = argv.empty() ? static_cast<int>(OS::ERROR_INVALID_PARAMETER) : OS::GetLastError();
    LogPrint("%s%d\n", OS::ToUtf8(LoadMessageText(kTextProcessFailed)).c_str(), error);
    return;
  }
  int exitCode = 0;
  OS::Current().WaitProcess(pid, kOnExitWaitMs, exitCode);
}

}  // namespace NolkPatch
