// The finishing steps of a patch run: on success the backups are dropped;
// on failure every recorded change is undone, in the order added, deleted,
// patched, and the folders the added step created are removed again. A backup that cannot be moved back is
// reported and kept, so the old file is never lost.
#pragma once

#include "patch/BackupRecord.h"

namespace NolkPatch {

void FinishAddedStep(bool ok, const PatchResultLists& results);
void FinishDeletedStep(bool ok, const PatchResultLists& results);
void FinishPatchedStep(bool ok, const PatchResultLists& results);

inline void FinishSteps(bool ok, const PatchResultLists& results) {
  FinishAddedStep(ok, results);
  FinishDeletedStep(ok, results);
  FinishPatchedStep(ok, results);
}

}  // namespace NolkPatch
