// Finding the game installation and matching its build against the patch
// package carried in the program's own file. Used at start-up and by the
// window's browse button; the console front end uses it without a dialog.
#pragma once

#include <string>

namespace NolkPatch {

// The installation folder registered under
// HKEY_LOCAL_MACHINE\SOFTWARE\Korvel\Products\<productKey> for a subkey whose
// "ProductClass" equals `productClass` (any class when it is empty); the
// subkey enumerated last wins. Empty when nothing is found.
std::wstring FindProductInstallPath(const std::wstring& productKey, const std::wstring& productClass);

// Whether "bin/launcher.exe" exists under the folder (in any letter case).
bool IsInstallFolder(const std::wstring& folder);

// What the discovery needs from the front end.
class InstallLocatorFrontEnd {
 public:
  virtual ~InstallLocatorFrontEnd() = default;
  virtual void EnableBrowse() = 0;
  virtual void EnableApply() = 0;
  // Asks the user for "Ombrix.exe" (the window shows the open-file dialog
  // titled "Locate Ombrix.exe..."); the chosen file's full path, or empty
  // when the user cancelled.
  virtual std::wstring ChooseGameProgram() = 0;
};

// Opens the package in `programPath`, finds the installation (from the
// registry at start-up, through the front end's file choice otherwise) and
// checks that the package applies to its build. True when it does; then
// StandaloneMode is set and the versions are filled in PatchSettings.
// Whether the last LocateInstallation found the installation already at the
// package's final build with nothing left to do (the console tells that
// apart from a failure by its exit code).
bool InstallationAlreadyCurrent();

bool LocateInstallation(const std::wstring& programPath, bool userRequested,
                        InstallLocatorFrontEnd& frontEnd);

}  // namespace NolkPatch
