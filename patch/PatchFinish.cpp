#include "patch/PatchFinish.h"

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {
namespace {

void ReportRestoreFailure(const BackupRecord& record) {
  PostEngineMessage(LEVEL_ERROR, FillIn(L"Failed to restore backup file %s", L"%s", DisplayPath(record.file)));
}

// A backup of a read-only file is read-only too; it is dropped all the
// same, or it would block every later patch of that file.
void DropBackups(const std::vector<BackupRecord>& records) {
  for (const BackupRecord& record : records) {
    if (PathExists(record.backup) && !RemoveFileEvenReadOnly(record.backup)) {
      LogPrintW(L"FinishSteps> could not remove the backup %ls, err %d", record.backup.c_str(),
                OS::GetLastError());
    }
  }
}

bool Restore(const BackupRecord& record) {
  if (RestoreBackup(record)) return true;
  ReportRestoreFailure(record);
  return false;
}

// Restores the backups that exist; a pair without backup stands for a file
// that was already missing and has nothing to restore.
bool RestoreExistingBackups(const std::vector<BackupRecord>& records) {
  bool all = true;
  for (const BackupRecord& record : records) {
    if (PathExists(record.backup) && !Restore(record)) all = false;
  }
  return all;
}

// Deepest first; a folder that is not empty (something else was put there)
// stays.
void RemoveCreatedFolders(const std::vector<std::wstring>& folders) {
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) OS::Current().RemoveDirectory(*it);
}

void AppendBackups(const std::vector<BackupRecord>& records, std::vector<std::wstring>& backups) {
  for (const BackupRecord& record : records) backups.push_back(record.backup);
}

}  // namespace

std::vector<std::wstring> BackupsOf(const PatchResultLists& results) {
  std::vector<std::wstring> backups;
  AppendBackups(results.addedBackups, backups);
  AppendBackups(results.deleted, backups);
  AppendBackups(results.patched, backups);
  return backups;
}

bool FinishAddedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.addedBackups);
    return true;
  }
  for (const std::wstring& file : results.added) RemoveFileEvenReadOnly(file);
  const bool restored = RestoreExistingBackups(results.addedBackups);
  RemoveCreatedFolders(results.createdFolders);
  return restored;
}

bool FinishDeletedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.deleted);
    return true;
  }
  return RestoreExistingBackups(results.deleted);
}

bool FinishPatchedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.patched);
    return true;
  }
  bool all = true;
  for (const BackupRecord& record : results.patched) {
    if (!Restore(record)) all = false;
  }
  return all;
}

}  // namespace NolkPatch
