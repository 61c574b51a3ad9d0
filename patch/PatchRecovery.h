// Recovery of a run that was killed part way: such a run leaves ".pbk"
// backups beside the files it moved aside or rebuilt. Before a patch is
// applied, every backup beside a path of its lists is moved back (a file
// found in its place is the half-written result or a re-added file and is
// deleted first), so the installation is the old version again and the
// patch applies normally.
//
// A backup beside a file of the patched list is left alone when the file
// itself is intact (its checksum is the old or the new one) and the backup
// is not a copy of the old version: it is then a stale leftover, which the
// patched step replaces.
#pragma once

#include <string>

#include "patch/PatchLists.h"

namespace NolkPatch {

// False, with a level-2 message, when a backup cannot be moved back; the
// backup is then kept and the run must not go on.
bool RecoverInterruptedRun(const std::wstring& installFolder, const PatchLists& lists);

}  // namespace NolkPatch
