// The three file lists of a patch folder ("addedFiles.txt",
// "deletedFiles.txt", "patchedFiles.txt"): 8-bit text whose lines form
// groups of three, one group per entry:
//   1  the path relative to the installation folder, '\' separated;
//   2  the MD5 of the file after patching (empty or unused in some lists);
//   3  the MD5 of the file before patching (patchedFiles.txt only).
// CR LF, LF and CR all end a line; a final line end adds no empty line, so
// an empty file holds no entries.
#pragma once

#include <string>
#include <vector>

namespace NolkPatch {

struct FileListEntry {
  std::wstring path;
  std::wstring newChecksum;
  std::wstring oldChecksum;
};

enum FileListResult : int {
  FILELIST_OK = 0,
  FILELIST_CANNOT_OPEN,   // the list file is missing or may not be read
  FILELIST_READ_FAILED,   // a read failed part way through
  FILELIST_PARTIAL_GROUP  // the line count is not a multiple of three
};

// Reads the list into `entries` (cleared first) in file order. With
// FILELIST_PARTIAL_GROUP the complete groups are kept and the trailing
// lines dropped; callers treat such a list as malformed.
FileListResult ReadFileList(const std::wstring& path, std::vector<FileListEntry>& entries);

// Splits 8-bit text into lines as the lists are read.
std::vector<std::string> SplitListLines(const std::string& text);

// Whether a list path stays inside the folder it is joined to: not empty,
// no leading separator, no drive or stream colon, no ".." component, no
// control characters, and a file name (not "." or a trailing separator) at
// the end.
bool IsSafeListPath(const std::wstring& path);

}  // namespace NolkPatch
