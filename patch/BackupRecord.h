// What the steps of a patch run changed, kept until the run commits or
// rolls back. A backup is the file moved aside to its name + ".pbk".
#pragma once

#include <string>
#include <vector>

namespace NolkPatch {

struct BackupRecord {
  std::wstring file;
  std::wstring backup;
};

struct PatchResultLists {
  std::vector<std::wstring> added;           // every file copied into the installation
  std::vector<BackupRecord> addedBackups;    // files an added file replaced
  std::vector<std::wstring> createdFolders;  // folders the added step made, parents first
  std::vector<BackupRecord> deleted;         // also files that were already missing
  std::vector<BackupRecord> patched;
};

// Moves the backup back over the file: true when the backup existed, the
// file was absent or could be deleted, and the move succeeded. The backup
// is never deleted, so a failed restore keeps the only copy.
bool RestoreBackup(const BackupRecord& record);

}  // namespace NolkPatch
