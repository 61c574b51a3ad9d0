// The three file lists of a patch archive ("addedFiles.txt",
// "deletedFiles.txt", "patchedFiles.txt"): 8-bit text, CR LF line ends,
// three lines per file: the path ('\' separators), the new MD5 and the old
// MD5. Added files leave the old MD5 empty, deleted files both digests.
#pragma once

#include <string>
#include <vector>

#include "tools/publisher/TreeChanges.h"

namespace KorvelTools {

inline constexpr char kAddedListName[] = "addedFiles.txt";
inline constexpr char kDeletedListName[] = "deletedFiles.txt";
inline constexpr char kPatchedListName[] = "patchedFiles.txt";

// The engine holds back the first patched entry whose path contains the
// launcher name and patches it after all others.
inline constexpr wchar_t kLauncherName[] = L"NolkLauncher.exe";
// The asset converter is patched before the asset archives that need it.
inline constexpr wchar_t kConverterProgramName[] = L"VAConverter.exe";

// The patched list in the order the engine should work through it:
//  1. the asset converter ("VAConverter.exe"), so that the ".va" archives
//     after it are rebuilt by the new converter;
//  2. every other file, in path order;
//  3. the launcher ("NolkLauncher.exe"), last.
// Other paths that merely contain the launcher name (for example
// "NolkLauncher.exe.cfg") go behind the launcher: the engine moves the
// first entry containing the name to the very end, so the launcher must
// come first among them to be the one patched last. A warning says so.
std::vector<FileChange> OrderPatchedList(std::vector<FileChange> changed, std::vector<std::string>& warnings);

// The list's bytes. Every path must be listable (IsListableName).
std::string FormatFileList(const std::vector<FileChange>& entries);

}  // namespace KorvelTools
