// Extends the game installer's uninstall log ("unins000.dat" in the
// installation folder) with one delete-file record for every file the
// patch adds, so the game's uninstaller removes those files too. It is the
// last step of applying a patch and runs only after all file changes
// succeeded; a false result fails the patch, which then rolls back.
#pragma once

#include <string>

namespace NolkPatch {

// True when the log was updated, when there is nothing to do (no added
// files, no log), and when the log has a layout that cannot take the update
// (a warning is posted and the log is left unchanged). False, with an error
// posted, when the old log cannot be read or the new log cannot be written
// or put in place; the old log is then still in place and no temporary file
// is left behind.
//
// The new log is written completely to unins000_temp.dat and flushed first.
// The platform's move refuses an existing destination, so the old log is
// moved to unins000_backup.dat, the new one moved into place, and the
// backup deleted; when the second move fails the backup is moved back. A
// backup found at the start (left by an interrupted replacement) is moved
// back when the log is missing and deleted otherwise.
bool UpdateUninstallLog(const std::wstring& installFolder, const std::wstring& patchFolder);

}  // namespace NolkPatch
