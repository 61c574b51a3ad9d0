// The one way the run drivers apply a patch: the "IsPatching" marker is set
// for the whole run and cleared only when the patch succeeded.
#pragma once

#include <functional>
#include <string>

namespace NolkPatch {

// The window registers the operation that shows PatchSettings' InstallPath
// in its installation field; without one nothing is shown.
void SetShowInstallPathHook(std::function<void()> hook);

// SetPatchingFlag, show the installation path, ApplyPatch with
// PatchSettings' InstallPath, the patch folder and "NolkLauncher.exe", then
// ClearPatchingFlag on success or SetPatchingFlag again on failure. The
// results of the flag operations do not change the result.
bool ApplyPatchGuarded(const std::wstring& patchFolder);

}  // namespace NolkPatch
