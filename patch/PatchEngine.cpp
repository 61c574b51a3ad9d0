#include "patch/PatchEngine.h"

#include <mutex>
#include <set>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/CommitToDisk.h"
#include "patch/DiffStep.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchFinish.h"
#include "patch/PatchLists.h"
#include "patch/PatchRecovery.h"
#include "patch/UninstallLog.h"

namespace NolkPatch {
namespace {

struct EnginePaths {
  std::mutex mutex;
  std::wstring installFolder;
  std::wstring patchFolder;
};

EnginePaths& CurrentPaths() {
  static EnginePaths paths;
  return paths;
}

void StoreEnginePaths(const std::wstring& installFolder, const std::wstring& patchFolder) {
  std::lock_guard lock(CurrentPaths().mutex);
  CurrentPaths().installFolder = installFolder;
  CurrentPaths().patchFolder = patchFolder;
}

void ReportTotal(const PatchLists& lists) {
  const auto& total = GetPatchEngineCallbacks().total;
  if (total) total(static_cast<unsigned>(lists.TotalEntries()));
}

// A file already standing where an added file goes is moved to its backup,
// so a rollback can put it back. A path added twice is backed up once.
bool KeepReplacedFile(const std::wstring& target, PatchResultLists& results,
                      std::set<std::wstring>& keptTargets) {
  if (keptTargets.count(target) != 0 || !PathExists(target)) return true;
  const BackupRecord record{target, BackupPathOf(target)};
  if (!RenameFile(record.file, record.backup)) {
    const std::wstring reason = SystemReason();
    PostEngineMessage(
        LEVEL_ERROR,
        FillIn(L"Failed to create backup of file %s", L"%s", DisplayPath(record.backup)) + reason);
    return false;
  }
  results.addedBackups.push_back(record);
  keptTargets.insert(target);
  return true;
}

// The message names the installation file the player knows, not the
// temporary copy it comes from.
bool CopyIn(const std::wstring& source, const std::wstring& target) {
  if (CopyFileOver(source, target)) return true;
  RemoveFileEvenReadOnly(target);
  if (CopyFileOver(source, target)) return true;
  const std::wstring reason = SystemReason();
  PostEngineMessage(LEVEL_ERROR, L"Could not copy the file: " + DisplayPath(target) + reason);
  return false;
}

bool CheckCopiedFile(const std::wstring& target, const FileListEntry& entry) {
  if (FileHasChecksum(target, entry.newChecksum)) return true;
  PostEngineMessage(LEVEL_ERROR, L"Checksum mismatch after copying: " + DisplayPath(target));
  return false;
}

// The publisher's permissions when the archive carries them, else those of
// the file the added one replaces; a new file without either keeps the
// system's default.
bool GiveAddedPermissions(const std::wstring& target, const FileListEntry& entry, const FileModes* modes) {
  std::uint32_t permissions = 0;
  const auto found = modes != nullptr ? modes->find(PathKey(entry.path)) : FileModes::const_iterator();
  if (modes != nullptr && found != modes->end()) {
    permissions = found->second;
  } else if (!GetPermissions(BackupPathOf(target), permissions)) {
    return true;
  }
  if (OS::Current().SetPermissions(target, permissions)) return true;
  const std::wstring reason = SystemReason();
  PostEngineMessage(LEVEL_ERROR,
                    L"Could not set the permissions of the file: " + DisplayPath(target) + reason);
  return false;
}

bool AddEntry(const std::wstring& installFolder, const std::wstring& patchFolder, const FileListEntry& entry,
              const FileModes* modes, PatchResultLists& results, std::set<std::wstring>& keptTargets) {
  const std::wstring source = PatchDataPath(patchFolder, entry.path);
  const std::wstring target = InstallFilePath(installFolder, entry.path);
  const std::wstring folder = FolderOf(target);
  bool entryOk = true;
  if (!EnsureFolder(folder, &results.createdFolders)) {
    const std::wstring reason = SystemReason();
    PostEngineMessage(LEVEL_ERROR, L"Could not create the directory: " + DisplayPath(folder) + reason);
    entryOk = false;
  }
  // Recorded before copying, so that a partial copy is rolled back too.
  if (KeepReplacedFile(target, results, keptTargets)) {
    results.added.push_back(target);
    entryOk = CopyIn(source, target) && entryOk && CheckCopiedFile(target, entry) &&
              GiveAddedPermissions(target, entry, modes);
  } else {
    entryOk = false;
  }
  if (!entryOk) PostEngineMessage(LEVEL_INFO, L"Failed adding: " + entry.path + L"...");
  return entryOk;
}

bool DeleteEntry(const std::wstring& installFolder, const FileListEntry& entry, PatchResultLists& results) {
  const std::wstring target = InstallFilePath(installFolder, entry.path);
  const std::wstring backup = BackupPathOf(target);
  if (!RenameFile(target, backup)) {
    if (PathExists(target)) {
      const std::wstring reason = SystemReason();
      PostEngineMessage(LEVEL_ERROR, L"Could not delete: " + DisplayPath(target) + reason);
      return false;
    }
    PostEngineMessage(LEVEL_WARNING, L"File seems to have been removed already: " + DisplayPath(target));
  }
  results.deleted.push_back({target, backup});
  return true;
}

// Keys of the installed files that the deleted and patched steps move.
std::set<std::wstring> FilesMovedLater(const std::wstring& installFolder, const PatchLists& lists) {
  std::set<std::wstring> keys;
  for (const auto* entries : {&lists.deleted, &lists.patched}) {
    for (const FileListEntry& entry : *entries)
      keys.insert(PathKey(InstallFilePath(installFolder, entry.path)));
  }
  return keys;
}

// Added files are forced while the later steps run, except those that a
// later step moves (CommitToDisk.h).
void QueueAddedFiles(const std::wstring& installFolder, const PatchLists& lists,
                     const PatchResultLists& results, DiskForcer& forcer) {
  const std::set<std::wstring> movedLater = FilesMovedLater(installFolder, lists);
  for (const std::wstring& file : results.added) {
    if (movedLater.count(PathKey(file)) != 0) {
      forcer.AddAtFinish(file);
    } else {
      forcer.Add(file);
    }
  }
}

// The added and rebuilt files must be on the disk before the commit drops
// their backups (CommitToDisk.h). Waited for before the uninstaller log is
// extended, so a failure here still leaves the log as it was.
bool FinishForcing(DiskForcer& forcer) {
  std::wstring failed;
  if (forcer.Finish(failed)) return true;
  PostEngineMessage(LEVEL_ERROR, L"Could not write the file to the disk: " + DisplayPath(failed));
  return false;
}

bool RunSteps(const std::wstring& installFolder, const std::wstring& patchFolder, const PatchLists& lists,
              PatchResultLists& results) {
  DiskForcer forcer;
  if (!RunAddedStep(installFolder, patchFolder, lists.added, results, &lists.modes)) return false;
  QueueAddedFiles(installFolder, lists, results, forcer);
  // A cancel that comes while the last files are rebuilt still rolls the
  // patch back: it is looked at once more before the commit begins.
  return RunDeletedStep(installFolder, lists.deleted, results) &&
         RunPatchedStep(installFolder, patchFolder, lists.patched, results.patched, &forcer) &&
         EngineStepAllowed() && FinishForcing(forcer) && UpdateUninstallLog(installFolder, patchFolder);
}

}  // namespace

std::wstring EngineInstallFolder() {
  std::lock_guard lock(CurrentPaths().mutex);
  return CurrentPaths().installFolder;
}

std::wstring EnginePatchFolder() {
  std::lock_guard lock(CurrentPaths().mutex);
  return CurrentPaths().patchFolder;
}

bool RunAddedStep(const std::wstring& installFolder, const std::wstring& patchFolder,
                  const std::vector<FileListEntry>& entries, PatchResultLists& results,
                  const FileModes* modes) {
  std::set<std::wstring> keptTargets;
  for (const FileListEntry& entry : entries) {
    if (!EngineStepAllowed()) return false;
    if (!AddEntry(installFolder, patchFolder, entry, modes, results, keptTargets)) return false;
  }
  return true;
}

bool RunDeletedStep(const std::wstring& installFolder, const std::vector<FileListEntry>& entries,
                    PatchResultLists& results) {
  for (const FileListEntry& entry : entries) {
    if (!EngineStepAllowed()) return false;
    if (!DeleteEntry(installFolder, entry, results)) return false;
  }
  return true;
}

bool ApplyPatch(const std::wstring& installFolder, const std::wstring& patchFolder,
                const std::wstring& launcherName, ApplyOptions* options) {
  ApplyOptions defaults;
  ApplyOptions& settings = options != nullptr ? *options : defaults;
  settings.rolledBackFully = true;
  StoreEnginePaths(installFolder, patchFolder);
  PatchLists lists;
  if (!LoadPatchLists(patchFolder, launcherName, lists)) return false;
  ReportTotal(lists);
  const RecoveryPolicy policy =
      settings.backupsAreThisPatchs ? RecoveryPolicy::RestoreAll : RecoveryPolicy::KeepUnexplained;
  if (!RecoverInterruptedRun(installFolder, lists, policy)) {
    settings.rolledBackFully = false;
    return false;
  }
  if (!NoBackupInTheWay(installFolder, lists)) return false;

  PatchResultLists results;
  bool ok = RunSteps(installFolder, patchFolder, lists, results);
  if (ok && settings.beforeCommit) ok = settings.beforeCommit(BackupsOf(results));
  settings.rolledBackFully = FinishSteps(ok, results);
  return ok;
}

}  // namespace NolkPatch
