// korvel-patcher-cli: the patch worker without a window, for launchers,
// scripts and tests. It takes the window program's command line and makes
// the same start-up decisions where they apply without a window; the run
// starts at once in every mode, as there is no Apply button.
//
// Exit codes: 0 the run completed ("Patching completed."), 1 aborted, 2
// the command line was rejected, 3 the installation is already at the
// package's final build with nothing left to do. "-h" alone prints the
// usage on standard output and exits with 0.
#include <wx/init.h>
#include <wx/msgout.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KernelStandard/KernelStartup.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "app/cli/ConsoleInstallLocator.h"
#include "app/cli/ConsoleJobHost.h"
#include "app/cli/ConsoleOutput.h"
#include "app/core/CommandLine.h"
#include "app/core/FatalError.h"
#include "app/core/InstallDiscovery.h"
#include "app/core/Messaging.h"
#include "app/core/PatchJob.h"
#include "app/core/ProgressThreads.h"
#include "app/core/RepairRun.h"
#include "app/core/Rights.h"
#include "app/core/RunDrivers.h"
#include "app/core/StandardRunDrivers.h"
#include "app/core/StartupSteps.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace {

using namespace NolkPatch;

constexpr int kExitCompleted = 0;
constexpr int kExitAborted = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAlreadyCurrent = 3;
constexpr int kStartupFailed = 1;

void PrintBox(const std::wstring& text, const std::wstring& caption) {
  const std::string line = OS::ToUtf8(caption + L": " + text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

// UTF-8, as the run's messages are written.
void PrintUsage(const std::wstring& usage) {
  const std::string text = OS::ToUtf8(usage);
  OS::Current().WriteStdout(text.data(), text.size());
}

void ConnectReporting(ConsoleOutput& output) {
  SetMessageTarget(&output);
  SetProgressDisplay(&output);
  SetDownloadDetailHook(
      [&output](std::uint64_t received, std::uint64_t expected) { output.ShowDownload(received, expected); });
  SetRepairSegmentDisplay([&output](unsigned received, unsigned total) {
    output.SetDetail(std::to_string(received) + " / " + std::to_string(total) + " segments");
  });
  SetLogSink(PostPatchMessage);
  PatchEngineCallbacks callbacks;
  callbacks.message = PostPatchMessage;
  StopOnCancel(callbacks, ConsoleJobHost::InterruptRequested);
  SetPatchEngineCallbacks(std::move(callbacks));
}

void DisconnectReporting() {
  SetLogSink(nullptr);
  SetDownloadDetailHook(nullptr);
  SetRepairSegmentDisplay(nullptr);
  SetProgressDisplay(nullptr);
  SetMessageTarget(nullptr);
}

// The folder the command line named is what the console offers when the
// discovery asks for the game (there is no file dialog).
void OfferCommandLineFolder(bool givenOnCommandLine, ConsoleInstallLocator& locator) {
  if (givenOnCommandLine) locator.OfferFolder(PatchSettings::Get().InstallPath);
}

int RunWorker(ConsoleOutput& output) {
  ConsoleJobHost host(output);
  host.WatchInterrupts();
  PatchThread worker(host);
  if (worker.Run() != wxTHREAD_NO_ERROR) {
    PostPatchMessage(2, L"The patch worker thread could not be started.");
    return kExitAborted;
  }
  worker.Wait();
  return worker.Succeeded() ? kExitCompleted : kExitAborted;
}

// The start-up after parsing and the run. An instance that ends at the
// rights step does not start the on-exit program here: the relaunch has
// started it already, and a failed write test under --admin starts none.
int RunPatcher(const AppSwitches& switches, ConsoleInstallLocator& locator) {
  const std::wstring programPath = OS::Current().ExecutablePath();
  const bool installPathGiven = !PatchSettings::Get().InstallPath.empty();
  FindInstallPathIfMissing();
  MakeInstallPathAbsolute();
  OfferCommandLineFolder(installPathGiven, locator);
  OS::Current().SetCurrentDirectory(FolderOf(programPath));
  if (!HasRightsOrRelaunched(programPath, switches, PrintBox)) return kExitAborted;

  ConsoleOutput output(OS::Current().IsTerminal(2));
  ConnectReporting(output);
  const RunDriverHooks& hooks = GetRunDriverHooks();
  if (hooks.locateInstallation) hooks.locateInstallation(programPath);
  int exitCode = kExitAborted;
  if (HasOperation()) {
    exitCode = RunWorker(output);
  } else {
    ReportNoOperation();
    if (InstallationAlreadyCurrent()) exitCode = kExitAlreadyCurrent;
  }
  DisconnectReporting();
  LaunchOnExitProgram(switches);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  KernelStartup();
  wxInitializer toolkit(argc, argv);
  if (!toolkit.IsOk() || !OS::Current().StartNetwork()) return kStartupFailed;
  delete wxMessageOutput::Set(new wxMessageOutputStderr);
  InstallFatalErrorHandling(PrintBox);
  InstallProgressAnimationFactory();
  const auto locator = std::make_shared<ConsoleInstallLocator>();
  InstallStandardRunDrivers(locator);

  std::vector<wxString> arguments = ProgramArguments(argc, argv);
  RepairQuotedArguments(arguments);
  SetUsagePrinter(PrintUsage);
  AppSwitches switches;
  ParseCommandLine(arguments, switches);

  int exitCode = kExitCompleted;
  if (switches.syntaxError || (switches.helpShown && !HasOperation())) {
    exitCode = switches.syntaxError ? kExitUsage : kExitCompleted;
    LaunchOnExitProgram(switches);
  } else {
    exitCode = RunPatcher(switches, *locator);
  }
  DisarmFatalErrorHandling();
  return exitCode;
}
