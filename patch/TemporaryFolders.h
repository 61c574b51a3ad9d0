// Temporary files of a run, kept safe from other users of the machine.
//
// The temporary root is "TEMP", or the system temporary folder when TEMP is
// unset or empty. When that folder is shared (others may add names to it,
// as they may in /tmp; see OS::Platform::IsSharedFolder), a name planted
// there by another user could make the patcher, perhaps running as root
// after the elevated relaunch, write through a link into a file of the
// attacker's choosing. The run then works in a private folder inside the
// root instead: "korvel-<user id>", mode 0700. The name is the same for
// every run of a user, so an archive can be found again by its path; when
// it is taken by anything but our own private folder (another user's
// folder, a link, a folder others may write), "korvel-<user id>-1" to
// "-9" are tried in turn, and the run fails when all are taken. A root
// that is not shared (TEMP pointing at a folder of the user's own) is used
// directly.
//
// Files are created in the root exclusively and never through a link
// (OS::OpenMode::CreateExclusive); folders are created with one mkdir that
// fails when the name exists, so nothing of someone else's is ever reused.
#pragma once

#include <cstdio>
#include <string>

namespace NolkPatch {

// Creates the temporary root (with its missing parents) and, when it is
// shared, the private folder inside it; `root` is the folder to use. False
// when neither can be made.
bool PrepareTemporaryRoot(std::wstring& root);

// Creates a new file for writing at `path` in a temporary folder and opens
// it (close with OS::Platform::CloseStream). In a folder that is not
// shared, whatever is at the name (a stale archive of an earlier run, or a
// link) is removed first, never its link's target; in a shared folder
// nothing is removed and any name already there makes the call fail. Null
// on failure, with the system error as the last error.
std::FILE* CreateTemporaryFile(const std::wstring& path);

// Removes a temporary file once nothing needs it (the archive extracted by
// a standalone run). False when it was there and could not be removed.
bool RemoveTemporaryFile(const std::wstring& path);

}  // namespace NolkPatch
