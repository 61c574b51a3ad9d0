#include "patch/UninstallLog.h"

#include <vector>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/UninstallLogFiles.h"
#include "patch/UninstallLogFormat.h"

namespace NolkPatch {
namespace {

// The three files of an update. The log is an 8-bit stored path, so every
// name is made 8-bit first, as the installer saw it.
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

void RecoverInterruptedReplacement(const UninstallLogPaths& paths) {
  if (!NolkUtil::FileExists(paths.backup)) return;
  if (NolkUtil::FileExists(paths.log))
    NolkUtil::DeleteFile(paths.backup);
  else
    NolkUtil::MoveFile(paths.backup, paths.log);
}

bool Fail(const std::wstring& text, const std::wstring& path) {
  PostEngineMessage(LEVEL_ERROR, text + path);
  return false;
}

bool Skip(const std::wstring& text, const std::wstring& path) {
  PostEngineMessage(LEVEL_WARNING, text + path);
  return true;
}

// Puts the written temporary log in place of the old one without a moment
// in which a failure leaves no log at all.
bool ReplaceLog(const UninstallLogPaths& paths) {
  if (!NolkUtil::MoveFile(paths.log, paths.backup)) {
    NolkUtil::DeleteFile(paths.temp);
    return Fail(L"Could not replace the uninstaller log: ", paths.log);
  }
  if (!NolkUtil::MoveFile(paths.temp, paths.log)) {
    NolkUtil::MoveFile(paths.backup, paths.log);
    NolkUtil::DeleteFile(paths.temp);
    return Fail(L"Could not replace the uninstaller log: ", paths.log);
  }
  NolkUtil::DeleteFile(paths.backup);
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
