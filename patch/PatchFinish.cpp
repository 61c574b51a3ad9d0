#include "patch/PatchFinish.h"

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {
namespace {

void ReportRestoreFailure(const BackupRecord& record) {
  PostEngineMessage(LEVEL_ERROR, FillIn(L"Failed to restore backup file %s", L"%s", record.file));
}

void DropBackups(const std::vector<BackupRecord>& records) {
  for (const BackupRecord& record : records) {
    if (PathExists(record.backup) && !RemoveFile(record.backup)) {
      LogPrintW(L"FinishSteps> could not remove the backup %ls, err %d", record.backup.c_str(),
                OS::GetLastError());
    }
  }
}

// Restores the backups that exist; a pair without backup stands for a file
// that was already missing and has nothing to restore.
void RestoreExistingBackups(const std::vector<BackupRecord>& records) {
  for (const BackupRecord& record : records) {
    if (PathExists(record.backup) && !RestoreBackup(record)) ReportRestoreFailure(record);
  }
}

// Deepest first; a folder that is not empty (something else was put there)
// stays.
void RemoveCreatedFolders(const std::vector<std::wstring>& folders) {
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) OS::Current().RemoveDirectory(*it);
}

}  // namespace

void FinishAddedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.addedBackups);
    return;
  }
  for (const std::wstring& file : results.added) RemoveFile(file);
  RestoreExistingBackups(results.addedBackups);
  RemoveCreatedFolders(results.createdFolders);
}

void FinishDeletedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.deleted);
    return;
  }
  RestoreExistingBackups(results.deleted);
}

void FinishPatchedStep(bool ok, const PatchResultLists& results) {
  if (ok) {
    DropBackups(results.patched);
    return;
  }
  for (const BackupRecord& record : results.patched) {
    if (!RestoreBackup(record)) ReportRestoreFailure(record);
  }
}

}  // namespace NolkPatch
