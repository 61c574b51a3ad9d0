#include "patch/BackupRecord.h"

#include "patch/EngineFileOps.h"

namespace NolkPatch {

bool RestoreBackup(const BackupRecord& record) {
  if (!PathExists(record.backup)) return false;
  if (PathExists(record.file) && !RemoveFileEvenReadOnly(record.file)) return false;
  return RenameFile(record.backup, record.file);
}

}  // namespace NolkPatch
