// Write access to the installation, the elevated relaunch and the program
// started on exit.
#pragma once

#include <string>

#include "app/core/CommandLine.h"
#include "app/core/MessageBox.h"

namespace NolkPatch {

// True when the process may write HKEY_LOCAL_MACHINE\Software\Korvel (the
// key is created when missing), can create the temporary folder (TEMP, or
// the system temporary folder when TEMP is unset), and can open
// <folder>/bin/Ombrix.exe for writing when that file exists.
bool CanWriteInstallation(const std::wstring& folder);

// The 8-bit argument string for the elevated instance, built from
// PatchSettings::Get():
//   --admin [--repair ][--server="a;b" ]--final=F C "InstallPath"
// FinalVersion and CurrentVersion are written even when empty.
std::string BuildRelaunchArguments();

// When the installation is writable already: false, nothing started.
// Otherwise starts the program again through pkexec with the relaunch
// arguments and waits for it; when pkexec is missing or the elevation was
// refused (exit code 126 or 127) the box 132 / 134 is shown. The on-exit
// program is started in both cases and the result is true: this instance
// is to end.
bool RelaunchElevated(const std::wstring& programPath, const AppSwitches& switches,
                      const MessageBoxFunction& messageBox);

// Starts the on-exit command (when given and not empty) as a new process,
// split by the Windows command-line rules, and waits up to 1000 ms for it;
// it is never ended. A failed start logs text 138 and the system error code.
void LaunchOnExitProgram(const AppSwitches& switches);

}  // namespace NolkPatch
