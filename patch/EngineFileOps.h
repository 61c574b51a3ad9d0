// The file operations of the patch engine, on wide paths through the
// platform layer, so installations whose folder names have no 8-bit form
// are patched too. Renames refuse a file that another process holds open
// (as Windows does), so a running game program fails the step that would
// pull a file from under it instead of changing it behind its back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace NolkPatch {

bool PathExists(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
// Removes a file also when it is read-only (a backup of a read-only game
// file). A symbolic link is removed as a link; its target is left alone.
bool RemoveFileEvenReadOnly(const std::wstring& path);
// Reads a whole file of at most `largest` bytes (the engine's own small
// files: the journal, the archive's file modes); false when it cannot be
// read or is larger.
bool ReadSmallFile(const std::wstring& path, std::uint64_t largest, std::string& content);
// The permission bits of a file (FileInfo::permissions); false when it
// cannot be examined.
bool GetPermissions(const std::wstring& path, std::uint32_t& permissions);
// Fails when the destination exists or the source is in use.
bool RenameFile(const std::wstring& from, const std::wstring& to);
bool CopyFileOver(const std::wstring& from, const std::wstring& to);
// Creates the folder and its missing parents; true when it exists. The
// folders it created are appended to `created`, parents first.
bool EnsureFolder(const std::wstring& folder, std::vector<std::wstring>* created = nullptr);
// True when the file's MD5 could be computed and equals `expected` (32
// lower-case hexadecimal digits, compared as exact text).
bool FileHasChecksum(const std::wstring& path, const std::wstring& expected);

// The path as the file system of an installation compares it: ASCII
// letters in lower case and every separator as '\'. Two paths with the same
// key may name the same file.
std::wstring PathKey(const std::wstring& path);

// `pattern` with its first occurrence of `token` (for example "%s")
// replaced by `value`.
std::wstring FillIn(std::wstring pattern, const std::wstring& token, const std::wstring& value);

}  // namespace NolkPatch
