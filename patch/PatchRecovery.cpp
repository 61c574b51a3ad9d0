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

bool RecoverEntry(const std::wstring& installFolder, const FileListEntry& entry, bool patchedList) {
  BackupRecord record;
  record.file = InstallFilePath(installFolder, entry.path);
  record.backup = BackupPathOf(record.file);
  if (!PathExists(record.backup)) return true;
  if (patchedList && IsStalePatchedBackup(record, entry)) return true;
  if (!RestoreBackup(record)) {
    PostEngineMessage(LEVEL_ERROR, FillIn(L"Failed to restore backup file %s", L"%s", record.file));
    return false;
  }
  PostEngineMessage(LEVEL_WARNING, L"Restored backup left by an interrupted patch: " + record.file);
  return true;
}

bool RecoverList(const std::wstring& installFolder, const std::vector<FileListEntry>& entries,
                 bool patchedList) {
  for (const FileListEntry& entry : entries) {
    if (!RecoverEntry(installFolder, entry, patchedList)) return false;
  }
  return true;
}

}  // namespace

bool RecoverInterruptedRun(const std::wstring& installFolder, const PatchLists& lists) {
  return RecoverList(installFolder, lists.added, false) && RecoverList(installFolder, lists.deleted, false) &&
         RecoverList(installFolder, lists.patched, true);
}

}  // namespace NolkPatch
