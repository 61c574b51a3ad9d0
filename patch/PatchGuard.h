// The one way the run drivers apply a patch, and what they do before the
// first patch and after the last. The "IsPatching" marker is set for the
// whole application of a patch and cleared only when it succeeded; the
// installation's journal (PatchJournal.h) says which backups are whose and
// whether the asset database still has to be rebuilt.
#pragma once

#include <functional>
#include <string>

namespace NolkPatch {

// The window registers the operation that shows PatchSettings' InstallPath
// in its installation field; without one nothing is shown.
void SetShowInstallPathHook(std::function<void()> hook);

// At the start of a run: drops the backups that a committed patch left
// (its run was stopped while dropping them) and clears "IsPatching". False,
// with a level-2 message, when the journal cannot be read or written.
bool SettleCommittedPatch();

// Whether the installation still owes an asset database rebuild.
bool RebuildOwed();

// Refuses, with a level-2 message, a patch other than the one an
// interrupted run left unfinished, then records the patch in the journal
// (the rebuild owed from now on), sets "IsPatching", shows the installation
// path and applies the patch with PatchSettings' InstallPath and
// "NolkLauncher.exe". On success the journal marks the patch committed
// before its backups are dropped, then clears it, and "IsPatching" is
// cleared; on failure "IsPatching" is set again, and the journal keeps the
// patch only when the rollback could not put every backup back (a complete
// rollback also takes back the rebuild this patch would have owed).
bool ApplyPatchGuarded(const std::wstring& patchFolder);

// The rebuild after the last patch: RebuildAssetDatabase, and on success
// the journal's rebuild owed is cleared. A failed rebuild stays owed, with a
// level-2 line saying so.
bool RebuildAndSettle();

}  // namespace NolkPatch
