#include "patch/PatchLists.h"

#include <algorithm>

#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {
namespace {

bool ReportListResult(FileListResult result, const std::wstring& path) {
  switch (result) {
    case FILELIST_OK:
      return true;
    case FILELIST_CANNOT_OPEN:
      PostEngineMessage(LEVEL_ERROR,
                        L"Could not open: " + path + L" for reading. The file might not be present");
      return false;
    case FILELIST_READ_FAILED:
      PostEngineMessage(LEVEL_ERROR, L"Could not read the file list: " + path);
      return false;
    case FILELIST_PARTIAL_GROUP:
      PostEngineMessage(LEVEL_ERROR, L"Malformed file list: " + path);
      return false;
  }
  return false;
}

bool ReadOneList(const std::wstring& patchFolder, const wchar_t* name, std::vector<FileListEntry>& entries) {
  const std::wstring path = JoinListPath(patchFolder, name);
  return ReportListResult(ReadFileList(path, entries), path);
}

bool AllPathsSafe(const std::vector<FileListEntry>& entries) {
  for (const FileListEntry& entry : entries) {
    if (IsSafeListPath(entry.path)) continue;
    PostEngineMessage(LEVEL_ERROR, L"Unsafe path in file list: " + entry.path);
    return false;
  }
  return true;
}

}  // namespace

void HoldBackEntry(std::vector<FileListEntry>& entries, const std::wstring& name) {
  if (name.empty()) return;
  const auto found = std::find_if(entries.begin(), entries.end(), [&name](const FileListEntry& entry) {
    return entry.path.find(name) != std::wstring::npos;
  });
  if (found != entries.end()) std::rotate(found, found + 1, entries.end());
}

void HoldBackBuildLauncher(std::vector<FileListEntry>& entries) {
  const auto found = std::find_if(entries.begin(), entries.end(), [](const FileListEntry& entry) {
    return PathKey(entry.path) == L"bin\\launcher.exe";
  });
  if (found != entries.end()) std::rotate(found, found + 1, entries.end());
}

bool LoadPatchLists(const std::wstring& patchFolder, const std::wstring& launcherName, PatchLists& lists) {
  if (!ReadOneList(patchFolder, L"addedFiles.txt", lists.added) ||
      !ReadOneList(patchFolder, L"deletedFiles.txt", lists.deleted) ||
      !ReadOneList(patchFolder, L"patchedFiles.txt", lists.patched)) {
    return false;
  }
  if (!AllPathsSafe(lists.added) || !AllPathsSafe(lists.deleted) || !AllPathsSafe(lists.patched))
    return false;
  if (!ReadFileModes(patchFolder, lists.modes)) {
    PostEngineMessage(LEVEL_ERROR, L"Malformed file list: " + JoinListPath(patchFolder, kFileModesName));
    return false;
  }
  HoldBackEntry(lists.patched, launcherName);
  HoldBackBuildLauncher(lists.patched);
  return true;
}

}  // namespace NolkPatch
