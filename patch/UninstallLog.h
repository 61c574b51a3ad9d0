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
// The new log is written completely to unins000_temp.dat and flushed first,
// then moved over unins000.dat in one atomic replacement, so at no moment
// is there no log or half a log. A log held open by another process is not
// replaced. A unins000_backup.dat found at the start was left by an older
// version, which replaced the log in two moves through that name and could
// be interrupted between them: it is moved back when the log is missing
// and deleted otherwise.
bool UpdateUninstallLog(const std::wstring& installFolder, const std::wstring& patchFolder);

}  // namespace NolkPatch
