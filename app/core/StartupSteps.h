// Start-up steps that the window program and the console program share:
// the program's arguments as toolkit strings, the installation lookup, the
// program folder, the rights check with its elevated relaunch, and whether
// the settings name any operation (and the report when they do not).
#pragma once

#include <wx/string.h>

#include <string>
#include <vector>

#include "app/core/CommandLine.h"
#include "app/core/MessageBox.h"
#include "patch/EnginePaths.h"  // FolderOf, for the program folder

namespace NolkPatch {

// argv as toolkit strings: UTF-8 where it decodes, the C locale otherwise.
std::vector<wxString> ProgramArguments(int argc, char** argv);

// When no installation folder was given: the one registered for the game.
void FindInstallPathIfMissing();

// A folder given relative to where the user started the program keeps
// pointing there after the program's own folder becomes current.
void MakeInstallPathAbsolute();

// The rights step of start-up; false when this instance is to end (the
// write test failed under --admin, or an elevated instance was started).
bool HasRightsOrRelaunched(const std::wstring& programPath, const AppSwitches& switches,
                           const MessageBoxFunction& messageBox);

// Whether download, repair or standalone mode is set.
bool HasOperation();
// The start-up's level-2 report that no mode is set.
void ReportNoOperation();

}  // namespace NolkPatch
