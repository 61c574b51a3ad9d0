// Write access to the installation, the elevated relaunch and the program
// started on exit.
#pragma once

#include <string>

#include "app/core/CommandLine.h"
#include "app/core/MessageBox.h"

namespace NolkPatch {

// Whether the process may write everything a run writes:
//   - the registry store, when it holds the product key
//     Software\Korvel\Products\OmbrixSimulator (the run sets its
//     "IsPatching" marker there, and nowhere else); nothing is created in
//     the store by the test;
//   - the temporary root (TEMP, else the system temporary folder, or the
//     private folder inside a shared one; see patch/TemporaryFolders.h),
//     which is created as the run would;
//   - the installation's folder and its bin folder, when they exist;
//   - <folder>/bin/Ombrix.exe, when it exists, opened for writing (it fails
//     while the game holds it).
// An empty folder (not found yet) is not examined.
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
