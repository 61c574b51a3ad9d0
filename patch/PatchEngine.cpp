#include "patch/PatchEngine.h"

#include <mutex>
#include <set>

#include "KernelStandard/FileUtil.h"
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
    PostEngineMessage(LEVEL_ERROR, FillIn(L"Failed to create backup of file %s", L"%s", record.backup));
    return false;
  }
  results.addedBackups.push_back(record);
  keptTargets.insert(target);
  return true;
}

bool CopyIn(const std::wstring& source, const std::wstring& target) {
  if (CopyFileOver(source, target)) return true;
  RemoveFile(target);
  if (CopyFileOver(source, target)) return true;
  PostEngineMessage(LEVEL_ERROR, L"Could not copy the file: " + source);
  return false;
}

bool CheckCopiedFile(const std::wstring& target, const FileListEntry& entry) {
  if (FileHasChecksum(target, entry.newChecksum)) return true;
  PostEngineMessage(LEVEL_ERROR, L"Checksum mismatch after copying: " + target);
  return false;
}

bool AddEntry(const std::wstring& installFolder, const std::wstring& patchFolder, const FileListEntry& entry,
              PatchResultLists& results, std::set<std::wstring>& keptTargets) {
  const std::wstring source = PatchDataPath(patchFolder, entry.path);
  const std::wstring target = InstallFilePath(installFolder, entry.path);
  const std::wstring folder = FolderOf(target);
  bool entryOk = true;
  if (!EnsureFolder(folder, &results.createdFolders)) {
    PostEngineMessage(LEVEL_ERROR, L"Could not create the directory: " + folder);
    entryOk = false;
  }
  // Recorded before copying, so that a partial copy is rolled back too.
  if (KeepReplacedFile(target, results, keptTargets)) {
    results.added.push_back(target);
    entryOk = CopyIn(source, target) && entryOk && CheckCopiedFile(target, entry);
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
      PostEngineMessage(LEVEL_ERROR, L"Could not delete: " + target);
      return false;
    }
    PostEngineMessage(LEVEL_WARNING, L"File seems to have been removed already: " + target);
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
  PostEngineMessage(LEVEL_ERROR, L"Could not write the file to the disk: " + failed);
  return false;
}

bool RunSteps(const std::wstring& installFolder, const std::wstring& patchFolder, const PatchLists& lists,
              PatchResultLists& results) {
  DiskForcer forcer;
  if (!RunAddedStep(installFolder, patchFolder, lists.added, results)) return false;
  QueueAddedFiles(installFolder, lists, results, forcer);
  return RunDeletedStep(installFolder, lists.deleted, results) &&
         RunPatchedStep(installFolder, patchFolder, lists.patched, results.patched, &forcer) &&
         FinishForcing(forcer) && UpdateUninstallLog(installFolder, patchFolder);
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
                  const std::vector<FileListEntry>& entries, PatchResultLists& results) {
  std::set<std::wstring> keptTargets;
  for (const FileListEntry& entry : entries) {
    if (!EngineStepAllowed()) return false;
    if (!AddEntry(installFolder, patchFolder, entry, results, keptTargets)) return false;
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
                const std::wstring& launcherName) {
  StoreEnginePaths(installFolder, patchFolder);
  PatchLists lists;
  if (!LoadPatchLists(patchFolder, launcherName, lists)) return false;
  ReportTotal(lists);
  if (!RecoverInterruptedRun(installFolder, lists)) return false;

  PatchResultLists results;
  const bool ok = RunSteps(installFolder, patchFolder, lists, results);
  FinishSteps(ok, results);
  return ok;
}

}  // namespace NolkPatch
