// Files that must not outlive a program the user ends: an output written
// under a temporary name (a ".part" file) is removed when the program is
// interrupted (Ctrl-C) or asked to terminate, instead of being left behind.
//
// On POSIX the handlers cover SIGINT, SIGTERM and SIGHUP. They remove the
// registered files with calls that are safe in a signal handler and then let
// the signal take its default action, so the parent still sees a program
// ended by that signal (a shell reports 130 for Ctrl-C). A Windows backend
// does the same from a console control handler (Ctrl-C, Ctrl-Break, console
// close) and then ends the process.
//
// Nothing happens until InstallTerminationCleanup is called: a library may
// register its temporary files unconditionally, and only programs that opt
// in change their reaction to these signals.
#pragma once

#include <string>

namespace OS {

// How many files can be registered at the same time.
inline constexpr int kMaxTerminationCleanupFiles = 8;

// Installs the handlers; false when they cannot be installed.
bool InstallTerminationCleanup();

// Registers a file to remove should the program be ended as above. Returns
// a token for UnregisterTerminationCleanupFile, or -1 when every place is
// taken or the path is too long for the table (the file is then simply not
// cleaned up).
int RegisterTerminationCleanupFile(const std::wstring& path);
// The file no longer needs removing (it was completed or deleted). A token
// of -1 is ignored.
void UnregisterTerminationCleanupFile(int token);

}  // namespace OS
