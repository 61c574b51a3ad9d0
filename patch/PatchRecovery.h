// Recovery of a run that was killed part way: such a run leaves ".pbk"
// backups beside the files it moved aside or rebuilt. Before a patch is
// applied, every backup beside a path of its lists is moved back (a file
// found in its place is the half-written result or a re-added file and is
// deleted first), so the installation is the old version again and the
// patch applies normally.
//
// A run that cannot tell whose backups these are (no journal names an
// interrupted run of this patch) leaves a backup beside a file of the
// patched list alone when the file itself is intact (its checksum is the old
// or the new one) and the backup is not a copy of the old version: it is
// not this patch's. Such a backup is never deleted; the run stops before it
// changes anything (NoBackupInTheWay) and says where it is.
#pragma once

#include <string>

#include "patch/PatchLists.h"

namespace NolkPatch {

enum class RecoveryPolicy {
  RestoreAll,       // the journal says every backup here is this patch's
  KeepUnexplained,  // backups that are not copies of the old file stay
};

// False, with a level-2 message, when a backup cannot be moved back; the
// backup is then kept and the run must not go on.
bool RecoverInterruptedRun(const std::wstring& installFolder, const PatchLists& lists, RecoveryPolicy policy);

// False, with a level-2 message naming it, when a backup stands beside a
// file of the lists: it belongs to another run and is left in place.
bool NoBackupInTheWay(const std::wstring& installFolder, const PatchLists& lists);

}  // namespace NolkPatch
