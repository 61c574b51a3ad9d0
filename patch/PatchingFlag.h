// The "IsPatching" marker: DWORD 1 under the key
// HKEY_LOCAL_MACHINE\Software\Korvel\Products\OmbrixSimulator while an
// installation may be half changed. A run sets it before it changes files
// and clears it only after a patch succeeded, so a failed or killed run
// leaves it behind for the game and the next run to see.
#pragma once

namespace NolkPatch {

// Open the product key for writing and write the value / delete it. False
// when the key is missing or may not be written, or the change fails.
bool SetPatchingFlag();
bool ClearPatchingFlag();

}  // namespace NolkPatch
