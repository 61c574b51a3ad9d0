#include "app/gui/KorvelPatcherApp.h"

#include <wx/msgdlg.h>

#include <csignal>

#include "KernelStandard/platform/Platform.h"
#include "app/core/FatalError.h"
#include "app/core/Messaging.h"
#include "app/core/ProgressThreads.h"
#include "app/core/Rights.h"
#include "app/core/StandardRunDrivers.h"
#include "app/core/StartupSteps.h"
#include "app/gui/FatalErrorDialog.h"
#include "app/gui/PatchMainFrame.h"
#include "app/gui/StartMode.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"

namespace NolkPatch {
namespace {

void ShowOwnerlessBox(const std::wstring& text, const std::wstring& caption) {
  wxMessageBox(wxString(text), wxString(caption), wxOK, nullptr);
}

// Called from the fault handler, where the toolkit may be in any state.
void ShowFatalBox(const std::wstring& text, const std::wstring& caption) {
  wxSafeShowMessage(wxString(caption), wxString(text));
}

std::vector<wxString> ArgumentsOf(const wxCmdLineArgsArray& argv, int argc) {
  std::vector<wxString> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(argv[i]);
  return arguments;
}

void ConnectReporting(MainFrame& frame) {
  SetLogSink(PostPatchMessage);
  SetPatchEngineCallbacks(frame.EngineCallbacks());
}

}  // namespace

bool KorvelPatcherApp::OnInit() {
  // 1-3: sockets, fault handling and the worker's collaborators. The fault
  // handling also fixes the crash dump name; under a debugger it stays off.
  if (!OS::Current().StartNetwork()) return false;
  // Ctrl-C, a closed terminal or a terminate request end the window
  // program quietly through the crash handlers' console control handler,
  // which also interrupts the tools it runs.
  InstallFatalErrorHandling(ShowFatalBox);
  InstallFatalErrorDialog();
  InstallProgressAnimationFactory();
  InstallStandardRunDrivers();
  // 5-6: the command line.
  std::vector<wxString> arguments = ArgumentsOf(argv, argc);
  RepairQuotedArguments(arguments);
  ParseCommandLine(arguments, m_switches);
  // 7-8: the installation from the registry; the program's folder current.
  FindInstallPathIfMissing();
  MakeInstallPathAbsolute();
  m_programPath = OS::Current().ExecutablePath();
  OS::Current().SetCurrentDirectory(FolderOf(m_programPath));
  // 9: write access, or an elevated instance takes over.
  if (!HasRightsOrRelaunched(m_programPath, m_switches, ShowOwnerlessBox)) {
    DisarmFatalErrorHandling();  // no OnExit follows, but this exit is planned
    return false;
  }
  // 10-13: the window.
  auto* frame = new PatchMainFrame(this, m_programPath);
  frame->Show();
  SetTopWindow(frame);
  m_windowCreated = true;
  ConnectReporting(*frame);
  frame->LocateInstallation(m_programPath, false);
  frame->ShowInstallPath();
  frame->StopTimer();
  // 14: what to do.
  StartSelectedMode(*frame);
  return true;
}

int KorvelPatcherApp::OnExit() {
  LaunchOnExitProgram(m_switches);
  SetLogSink(nullptr);
  SetPatchEngineCallbacks({});  // they refer to the window, which is gone
  DisarmFatalErrorHandling();
  return 0;
}

void KorvelPatcherApp::OnFatalException() {
  HandleFatalFault(SIGABRT, 0);
}

}  // namespace NolkPatch
