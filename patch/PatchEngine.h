// Applying one unpacked patch to an installation, all or nothing.
//
// The patch folder (made by UnpackPatchArchive) holds "addedFiles.txt",
// "deletedFiles.txt", "patchedFiles.txt" and the files and diffs below
// "data\". A run reads and checks the three lists, moves back any backups
// an interrupted run left (and stops when a backup it cannot account for
// stands in the way), then
//   1. copies every added file in (an existing file in its place is kept as
//      its ".pbk" backup) and checks its MD5,
//   2. moves every deleted file aside to its ".pbk" backup,
//   3. rebuilds every patched file with the outside tools (DiffStep.h),
//   4. extends the uninstaller log with the added files,
// and finally drops the backups when every step succeeded, or undoes every
// change when one failed. Everything is reported through the engine's
// message callback (PatchEngineCallbacks.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "patch/BackupRecord.h"
#include "patch/FileList.h"
#include "patch/FileModes.h"

namespace NolkPatch {

// How one application fits into the run's journal (PatchJournal.h).
struct ApplyOptions {
  // Every backup beside a file of the lists was made by an interrupted run
  // of this same patch, so all of them are moved back. Otherwise a backup
  // that is not a copy of the old file is left in place, and the run stops
  // before changing anything while such a backup stands in the way.
  bool backupsAreThisPatchs = false;
  // Called once every step succeeded and every new file is on the disk,
  // before the first backup is dropped, with the backups about to be
  // dropped. False turns the run into a rollback.
  std::function<bool(const std::vector<std::wstring>& backups)> beforeCommit;
  // Output: false when a rollback could not move every backup back.
  bool rolledBackFully = true;
};

// `launcherName` (normally "NolkLauncher.exe") names the patched entry that
// is rebuilt last but for the launcher that identifies the build. True when
// the installation is the new version.
bool ApplyPatch(const std::wstring& installFolder, const std::wstring& patchFolder,
                const std::wstring& launcherName, ApplyOptions* options = nullptr);

// The folders of the current (or last) run.
std::wstring EngineInstallFolder();
std::wstring EnginePatchFolder();

// The added and deleted steps; true when every entry succeeded. Each
// records what it changed in `results`, also when it fails.
// `modes` are the publisher's permissions of added files (FileModes.h).
bool RunAddedStep(const std::wstring& installFolder, const std::wstring& patchFolder,
                  const std::vector<FileListEntry>& entries, PatchResultLists& results,
                  const FileModes* modes = nullptr);
bool RunDeletedStep(const std::wstring& installFolder, const std::vector<FileListEntry>& entries,
                    PatchResultLists& results);

}  // namespace NolkPatch
