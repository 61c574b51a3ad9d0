// The patched step of a patch run: every file of "patchedFiles.txt" is
// moved aside to its ".pbk" backup and rebuilt from that backup and a diff
// of the patch folder by an outside tool in the installation's tools folder
// ("bin\"): "vpatchl-w32.exe" in general, or the game's asset converter
// "VAConverter.exe" for ".va" archives when the converter is installed.
//
// Before a general entry is touched its MD5 must equal the list's old
// checksum (or the new one: then it is already patched and left alone);
// converter entries are not held to the old checksum, because the game
// changes its archives in place, but one that already has the new checksum
// is left alone too, so a patch can be applied again after an interrupted
// run. After a tool reports success the result must have the list's
// new checksum, so a tool that writes a wrong file cannot go unnoticed.
//
// Entries of different files are rebuilt side by side, as many at once as
// the machine has cores (at least two, since a tool waits on the disk part
// of the time), each on its own thread with its own tool process. Entries
// naming the same file (or a file and its ".pbk" or temporary names), the
// converter's entries and an entry that rebuilds a tool itself keep their
// order. Every message is posted, every pair recorded and every file queued
// in list order, exactly as one entry after the other would.
//
// The step starts nothing more after the first failing entry; entries that
// were already running finish without posting anything. Every (file,
// backup) pair made is recorded, theirs too; the run's finishing step drops
// or restores them.
#pragma once

#include <string>
#include <vector>

#include "patch/BackupRecord.h"
#include "patch/CommitToDisk.h"
#include "patch/ExternalTool.h"
#include "patch/FileList.h"

namespace NolkPatch {

// Every rebuilt file whose checksum is confirmed is queued on `forcer`
// when one is given (CommitToDisk.h).
bool RunPatchedStep(const std::wstring& installFolder, const std::wstring& patchFolder,
                    const std::vector<FileListEntry>& entries, std::vector<BackupRecord>& patched,
                    DiskForcer* forcer = nullptr);

// The first ".va" of the file name is at its very end (case-sensitive).
bool HasConverterName(const std::wstring& fileName);

// Everything one entry needs: its paths and how its tool is run.
struct PatchedEntryPlan {
  std::wstring target;
  std::wstring backup;
  std::wstring diff;
  bool converter = false;
  ToolInvocation tool;
};

// Works out the entry's paths and tool; whether it is a converter entry is
// decided by the converter's presence at this moment.
PatchedEntryPlan PlanPatchedEntry(const std::wstring& installFolder, const std::wstring& patchFolder,
                                  const FileListEntry& entry);

// The level-2 text for a non-zero exit code of the entry's tool.
std::wstring ToolExitMessage(int exitCode, bool converter, const std::wstring& entryPath);

}  // namespace NolkPatch
