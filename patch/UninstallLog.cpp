#include "patch/UninstallLog.h"

#include <vector>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/UninstallLogFiles.h"
#include "patch/UninstallLogFormat.h"

namespace NolkPatch {
namespace {

// The files of an update (the backup is only ever found, left by older
// versions). The log is an 8-bit stored path, so every name is made 8-bit
// first, as the installer saw it.
struct UninstallLogPaths {
  explicit UninstallLogPaths(const std::wstring& installFolder)
      : log(EightBit(NolkUtil::JoinPath(installFolder, L"unins000.dat"))),
        temp(EightBit(NolkUtil::JoinPath(installFolder, L"unins000_temp.dat"))),
        backup(EightBit(NolkUtil::JoinPath(installFolder, L"unins000_backup.dat"))) {}

  static std::wstring EightBit(const std::wstring& path) {
    return NolkUtil::ToWide(NolkUtil::ToNarrow(path));
  }

  std::wstring log;
  std::wstring temp;
  std::wstring backup;
};

// Older versions moved the old log to the backup name before moving the
// new one in; a backup left by an interruption there is the log to keep
// when the log is missing, and stale otherwise.
void RecoverInterruptedReplacement(const UninstallLogPaths& paths) {
  if (!NolkUtil::FileExists(paths.backup)) return;
  if (NolkUtil::FileExists(paths.log))
    NolkUtil::DeleteFile(paths.backup);
  else
    NolkUtil::MoveFile(paths.backup, paths.log);
}

// Paths are shown in the system's own spelling, as in the engine's other
// messages.
bool Fail(const std::wstring& text, const std::wstring& path) {
  PostEngineMessage(LEVEL_ERROR, text + DisplayPath(path));
  return false;
}

bool Skip(const std::wstring& text, const std::wstring& path) {
  PostEngineMessage(LEVEL_WARNING, text + DisplayPath(path));
  return true;
}

// Puts the written temporary log in place of the old one in one atomic
// step, so a failure or a crash leaves either the old log or the new one.
// A log held open elsewhere is left alone, as Windows refuses to replace it.
bool ReplaceLog(const UninstallLogPaths& paths) {
  OS::Platform& platform = OS::Current();
  if (platform.IsFileInUse(paths.log) || !platform.ReplaceFile(paths.temp, paths.log)) {
    NolkUtil::DeleteFile(paths.temp);
    return Fail(L"Could not replace the uninstaller log: ", paths.log);
  }
  return true;
}

}  // namespace

bool UpdateUninstallLog(const std::wstring& installFolder, const std::wstring& patchFolder) {
  const std::vector<std::string> addedPaths = ReadAddedRecordPaths(installFolder, patchFolder);
  if (addedPaths.empty()) return true;

  const UninstallLogPaths paths(installFolder);
  RecoverInterruptedReplacement(paths);
  ByteVector log;
  // Opened for writing too, as the update needs a log it may change.
  const FileReadResult read = ReadWholeFile(paths.log, OS::OpenMode::ReadWrite, log);
  if (read == FileReadResult::READ_CANNOT_OPEN) return true;  // installed without the uninstaller
  if (read == FileReadResult::READ_FAILED) return Fail(L"Could not read the uninstaller log: ", paths.log);

  ByteVector updated;
  switch (AppendDeleteFileRecords(log, addedPaths, updated)) {
    case UninstallLogEdit::EDIT_UNEXPECTED_LAYOUT:
      return Skip(L"Uninstaller log has an unexpected layout and was not updated: ", paths.log);
    case UninstallLogEdit::EDIT_TOO_LARGE:
      return Skip(L"Uninstaller log cannot take more records and was not updated: ", paths.log);
    case UninstallLogEdit::EDIT_OK:
      break;
  }
  if (!WriteWholeFile(paths.temp, updated)) {
    NolkUtil::DeleteFile(paths.temp);
    return Fail(L"Could not write the temporary uninstaller log: ", paths.temp);
  }
  return ReplaceLog(paths);
}

}  // namespace NolkPatch
