// The permissions of added files as they were in the publisher's tree.
// The archive builder writes them to "fileModes.txt" at the top of the
// archive, one line per added file: the permission bits in octal, a space,
// and the file's list path ("0755 bin\OmbrixUtil.exe"). Archives without
// the file (older builders) read as before: an added file that replaces one
// keeps that file's permissions, a new one gets the system's default.
// Only the permission bits 0777 are applied: set-user-id and the like never
// come from an archive.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace NolkPatch {

inline constexpr wchar_t kFileModesName[] = L"fileModes.txt";
inline constexpr std::uint32_t kArchivePermissionBits = 0777;

// Keyed by the list path's PathKey.
using FileModes = std::map<std::wstring, std::uint32_t>;

std::string FormatFileModes(const std::vector<std::pair<std::wstring, std::uint32_t>>& entries);
// False for a line that is not "<octal> <path>".
bool ParseFileModes(const std::string& text, FileModes& modes);
// Reads P\fileModes.txt; a missing file gives no modes and true.
bool ReadFileModes(const std::wstring& patchFolder, FileModes& modes);

}  // namespace NolkPatch
