// File access for the uninstaller log update, all through the platform
// layer: whole-file reads and a checked, flushed whole-file write, and the
// added paths of a patch's addedFiles.txt.
#pragma once

#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "patch/UninstallLogFormat.h"

namespace NolkPatch {

enum class FileReadResult { READ_OK, READ_CANNOT_OPEN, READ_FAILED };

// Reads the whole file, opened in `mode` (Read or ReadWrite).
FileReadResult ReadWholeFile(const std::wstring& path, OS::OpenMode mode, ByteVector& bytes);

// Creates (or truncates) the file and writes `bytes`, then flushes them to
// the disk. False when the file cannot be created or any step fails; the
// file is then left as far as it got, for the caller to delete.
bool WriteWholeFile(const std::wstring& path, const ByteVector& bytes);

// Splits 8-bit text into lines ended by CR LF, LF or CR. A final line end
// does not add an empty line; empty text has no lines.
std::vector<std::string> SplitTextLines(const std::string& text);

// The records' paths for the files a patch adds: the first line of every
// complete group of three lines of patchFolder/addedFiles.txt, each made
// ToNarrow(JoinPath(installFolder, line)). JoinPath joins with '/', while the
// list's own paths keep their '\' separators, so a record reads for example
// "/games/Ombrix/bin\OmbrixUtil.exe": this is the text the Windows patcher
// has always written, and it is kept as it is. A list that cannot be read
// posts an error and gives no paths.
std::vector<std::string> ReadAddedRecordPaths(const std::wstring& installFolder,
                                              const std::wstring& patchFolder);

}  // namespace NolkPatch
