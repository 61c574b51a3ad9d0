// Paths the patch engine works with, built with '\' separators (the
// platform layer turns them into native ones): a list path joined to the
// installation or patch folder, the ".pbk" backup beside a file, the folder
// of a file, and the installation's tools folder.
#pragma once

#include <string>

namespace NolkPatch {

// base + "\" + the list path (separators normalised to '\'); no separator is
// added when base already ends in one.
std::wstring JoinListPath(const std::wstring& base, const std::wstring& listPath);
// The installation file for a list path: I\<path>.
std::wstring InstallFilePath(const std::wstring& installFolder, const std::wstring& listPath);
// The patch folder's copy of a list path: P\data\<path>.
std::wstring PatchDataPath(const std::wstring& patchFolder, const std::wstring& listPath);
// The file path with ".pbk" appended to its name.
std::wstring BackupPathOf(const std::wstring& filePath);
// The file path with ".pbk2" appended: the interim name of a file that one
// run rebuilds a second time (its ".pbk" holds the original).
std::wstring InterimPathOf(const std::wstring& filePath);
// The text before the last separator; empty when there is none.
std::wstring FolderOf(const std::wstring& filePath);
// The text after the last separator.
std::wstring NameOf(const std::wstring& filePath);
// The path as the user finds it on this system (native separators), for
// messages.
std::wstring DisplayPath(const std::wstring& path);
// ": " and the description of the thread's last system error, for
// messages; read it before any other call can change the error.
std::wstring SystemReason();
// I + "\" (only when I does not end in a separator) + "bin\".
std::wstring ToolsFolderOf(const std::wstring& installFolder);

}  // namespace NolkPatch
