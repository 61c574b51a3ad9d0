// The finishing steps of a patch run: on success the backups are dropped;
// on failure every recorded change is undone, in the order added, deleted,
// patched, and the folders the added step created are removed again. A backup that cannot be moved back is
// reported and kept, so the old file is never lost.
#pragma once

#include <string>
#include <vector>

#include "patch/BackupRecord.h"

namespace NolkPatch {

// Each returns false when a rollback could not move every backup back (the
// backups that failed are kept); dropping backups after success always
// returns true, since a backup left over is reported and harmless.
bool FinishAddedStep(bool ok, const PatchResultLists& results);
bool FinishDeletedStep(bool ok, const PatchResultLists& results);
bool FinishPatchedStep(bool ok, const PatchResultLists& results);

// Every backup the run made, in the order they are dropped.
std::vector<std::wstring> BackupsOf(const PatchResultLists& results);

inline bool FinishSteps(bool ok, const PatchResultLists& results) {
  const bool added = FinishAddedStep(ok, results);
  const bool deleted = FinishDeletedStep(ok, results);
  const bool patched = FinishPatchedStep(ok, results);
  return added && deleted && patched;
}

}  // namespace NolkPatch
