// File and folder queries and changes used by the patch engine and the repair
// side: existence, size and time queries, read-only flag, delete, move,
// folder creation and removal, listings and temporary names.
//
// Every function normalises its path to '\' separators first. Two groups
// reach the file system differently, as the system has always done:
//  - the wide group (IsDirectory, SetReadOnly, ClearReadOnly, MakeDirectory)
//    passes the path on unchanged;
//  - the 8-bit group (FileExists, GetFileSize, GetFileModifiedTime,
//    DeleteFile, MoveFile, RemoveDirectoryTree, ListDirectory) passes it
//    through the 8-bit form first, so characters that form cannot express
//    become '?' and such names are reachable only through the wide group.
//
// Boolean functions report failure by false and leave the thread's last
// error (OS::GetLastError) as the failing call set it. Nothing throws.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "KernelStandard/ResultCodes.h"
#include "KernelStandard/platform/SystemNames.h"

namespace NolkUtil {

// True when the path is an existing folder; false for a missing path.
bool IsDirectory(std::wstring path);
// Sets / clears the read-only flag, keeping the other flags. True when the
// flag already had the wanted value. False for a missing path.
bool SetReadOnly(std::wstring path);
bool ClearReadOnly(std::wstring path);

bool FileExists(std::wstring path);
// NOLKRESULT_OK with the size in bytes, or NOLKRESULT_FILE_ERROR (2) with a
// size of 0 when the path cannot be queried. The full 64-bit size is given,
// so files of 2 GiB and more are measured correctly.
NolkResult GetFileSize(std::wstring path, std::uint64_t& size);
// As GetFileSize; the last-modification time in seconds since 1970-01-01.
NolkResult GetFileModifiedTime(std::wstring path, std::int64_t& modifiedTime);

// False for an empty path, without any system call.
bool DeleteFile(std::wstring path);
// Refuses (false, last error ERROR_SHARING_VIOLATION) to move a file that
// another process holds open; otherwise a plain move, which fails when the
// destination exists.
bool MoveFile(std::wstring source, std::wstring destination);
// Creates a file holding "\r\n". False when the file already exists, cannot
// be created, or the two bytes cannot be written.
bool CreateFileIfMissing(std::wstring path);

// Removes a folder and everything in it. A subfolder that cannot be removed
// stops the removal at once (false); a file that cannot be deleted is left
// and makes the final folder removal, and so the result, fail.
bool RemoveDirectoryTree(std::wstring folder);
// Creates a folder and any missing parents; true when it exists or was
// created. A path naming an existing file gives false with last error
// ERROR_FILE_EXISTS (80). Each failed creation is logged.
bool MakeDirectory(std::wstring folder);
// The folder joined with "file<n>", where n is a process-wide counter seeded
// from the tick count and incremented on every call. Nothing is created.
std::wstring MakeTempFileName(const std::wstring& folder);

// Fills `entries` (cleared first) with the full path of every entry of the
// folder, files and folders alike. NOLKRESULT_CANNOT_LIST (4) when the
// folder cannot be opened for listing.
NolkResult ListDirectory(std::wstring folder, std::set<std::wstring>& entries);

}  // namespace NolkUtil

namespace Vek {

// 0 when the 8-bit path exists, 2 when it does not. Volume-name prefixes
// ("name:rest") would be resolved first, but this program registers no
// volumes, so every path is answered by the plain existence test.
int FileStatus(const std::string& path);

}  // namespace Vek
