// The three file lists of one patch folder, read and checked before the
// installation is touched: every list must exist, hold whole groups of
// three lines, and name only paths that stay inside the installation.
#pragma once

#include <string>
#include <vector>

#include "patch/FileList.h"

namespace NolkPatch {

struct PatchLists {
  std::vector<FileListEntry> added;
  std::vector<FileListEntry> deleted;
  std::vector<FileListEntry> patched;

  std::size_t TotalEntries() const { return added.size() + deleted.size() + patched.size(); }
};

// Reads P\addedFiles.txt, P\deletedFiles.txt and P\patchedFiles.txt in that
// order. The first patched entry whose path contains `launcherName` (when
// that is not empty) is moved to the end, so the launcher is replaced last.
// False, with a level-2 message, when a list cannot be read, is malformed,
// or names an unsafe path.
bool LoadPatchLists(const std::wstring& patchFolder, const std::wstring& launcherName, PatchLists& lists);

// Moves the first entry whose path contains `name` to the end.
void HoldBackEntry(std::vector<FileListEntry>& entries, const std::wstring& name);

}  // namespace NolkPatch
