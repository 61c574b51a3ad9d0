// Applying one unpacked patch to an installation, all or nothing.
//
// The patch folder (made by UnpackPatchArchive) holds "addedFiles.txt",
// "deletedFiles.txt", "patchedFiles.txt" and the files and diffs below
// "data\". A run reads and checks the three lists, moves back any backups
// an interrupted run left, then
//   1. copies every added file in (an existing file in its place is kept as
//      its ".pbk" backup) and checks its MD5,
//   2. moves every deleted file aside to its ".pbk" backup,
//   3. rebuilds every patched file with the outside tools (DiffStep.h),
//   4. extends the uninstaller log with the added files,
// and finally drops the backups when every step succeeded, or undoes every
// change when one failed. Everything is reported through the engine's
// message callback (PatchEngineCallbacks.h).
#pragma once

#include <string>
#include <vector>

#include "patch/BackupRecord.h"
#include "patch/FileList.h"

namespace NolkPatch {

// `launcherName` (normally "NolkLauncher.exe") names the patched entry that
// is rebuilt last. True when the installation is the new version.
bool ApplyPatch(const std::wstring& installFolder, const std::wstring& patchFolder,
                const std::wstring& launcherName);

// The folders of the current (or last) run.
std::wstring EngineInstallFolder();
std::wstring EnginePatchFolder();

// The added and deleted steps; true when every entry succeeded. Each
// records what it changed in `results`, also when it fails.
bool RunAddedStep(const std::wstring& installFolder, const std::wstring& patchFolder,
                  const std::vector<FileListEntry>& entries, PatchResultLists& results);
bool RunDeletedStep(const std::wstring& installFolder, const std::vector<FileListEntry>& entries,
                    PatchResultLists& results);

}  // namespace NolkPatch
