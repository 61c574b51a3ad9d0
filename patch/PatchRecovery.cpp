#include "patch/PatchRecovery.h"

#include "KernelStandard/Md5.h"
#include "KernelStandard/TextConvert.h"
#include "patch/BackupRecord.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {
namespace {

bool IsStalePatchedBackup(const BackupRecord& record, const FileListEntry& entry) {
  std::string digest;
  if (!NolkUtil::Md5OfFile(record.file, digest)) return false;
  const bool fileIntact =
      digest == NolkUtil::ToNarrow(entry.oldChecksum) || digest == NolkUtil::ToNarrow(entry.newChecksum);
  return fileIntact && !FileHasChecksum(record.backup, entry.oldChecksum);
}

bool RecoverEntry(const std::wstring& installFolder, const FileListEntry& entry, bool patchedList,
                  RecoveryPolicy policy) {
  BackupRecord record;
  record.file = InstallFilePath(installFolder, entry.path);
  record.backup = BackupPathOf(record.file);
  if (policy == RecoveryPolicy::RestoreAll && PathExists(InterimPathOf(record.file)))
    RemoveFileEvenReadOnly(InterimPathOf(record.file));
  if (!PathExists(record.backup)) return true;
  if (policy == RecoveryPolicy::KeepUnexplained && patchedList && IsStalePatchedBackup(record, entry))
    return true;
  if (!RestoreBackup(record)) {
    PostEngineMessage(LEVEL_ERROR,
                      FillIn(L"Failed to restore backup file %s", L"%s", DisplayPath(record.file)));
    return false;
  }
  PostEngineMessage(LEVEL_WARNING,
                    L"Restored backup left by an interrupted patch: " + DisplayPath(record.file));
  return true;
}

bool RecoverList(const std::wstring& installFolder, const std::vector<FileListEntry>& entries,
                 bool patchedList, RecoveryPolicy policy) {
  for (const FileListEntry& entry : entries) {
    if (!RecoverEntry(installFolder, entry, patchedList, policy)) return false;
  }
  return true;
}

bool NoBackupBeside(const std::wstring& installFolder, const std::vector<FileListEntry>& entries) {
  for (const FileListEntry& entry : entries) {
    const std::wstring backup = BackupPathOf(InstallFilePath(installFolder, entry.path));
    if (!PathExists(backup)) continue;
    PostEngineMessage(LEVEL_ERROR,
                      L"A backup file left by another patch run is in the way; it was left in place: " +
                          DisplayPath(backup));
    return false;
  }
  return true;
}

}  // namespace

bool RecoverInterruptedRun(const std::wstring& installFolder, const PatchLists& lists,
                           RecoveryPolicy policy) {
  return RecoverList(installFolder, lists.added, false, policy) &&
         RecoverList(installFolder, lists.deleted, false, policy) &&
         RecoverList(installFolder, lists.patched, true, policy);
}

bool NoBackupInTheWay(const std::wstring& installFolder, const PatchLists& lists) {
  return NoBackupBeside(installFolder, lists.added) && NoBackupBeside(installFolder, lists.deleted) &&
         NoBackupBeside(installFolder, lists.patched);
}

}  // namespace NolkPatch
