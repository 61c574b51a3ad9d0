// The three file lists of one patch folder, read and checked before the
// installation is touched: every list must exist, hold whole groups of
// three lines, and name only paths that stay inside the installation.
#pragma once

#include <string>
#include <vector>

#include "patch/FileList.h"
#include "patch/FileModes.h"

namespace NolkPatch {

struct PatchLists {
  std::vector<FileListEntry> added;
  std::vector<FileListEntry> deleted;
  std::vector<FileListEntry> patched;
  FileModes modes;  // from "fileModes.txt" when the archive has it

  std::size_t TotalEntries() const { return added.size() + deleted.size() + patched.size(); }
};

// Reads P\addedFiles.txt, P\deletedFiles.txt and P\patchedFiles.txt in that
// order, and "fileModes.txt" when present. The first patched entry whose
// path contains `launcherName` (when that is not empty) is moved to the
// end, and after it "bin\Launcher.exe": the file that identifies the build
// changes last, so a run stopped part way still shows the old build.
// False, with a level-2 message, when a list cannot be read, is malformed,
// or names an unsafe path.
bool LoadPatchLists(const std::wstring& patchFolder, const std::wstring& launcherName, PatchLists& lists);

// Moves the first entry whose path contains `name` to the end.
void HoldBackEntry(std::vector<FileListEntry>& entries, const std::wstring& name);
// Moves the entry for the build's launcher, "bin\Launcher.exe" in any case
// and with either separator, to the end.
void HoldBackBuildLauncher(std::vector<FileListEntry>& entries);

}  // namespace NolkPatch
