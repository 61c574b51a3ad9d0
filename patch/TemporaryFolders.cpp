#include "patch/TemporaryFolders.h"

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/RunDriver.h"

namespace NolkPatch {
namespace {

// Names already taken (left over from an earlier run, or another process's
// folder) are skipped, so a fresh folder never holds someone else's files.
constexpr int kNameAttempts = 100;
// The private folder's name and the alternatives tried when it is taken.
constexpr int kPrivateFolderNames = 10;

std::wstring ChosenRoot() {
  std::string temp;
  if (OS::Current().GetEnvironment("TEMP", temp) && !temp.empty()) return OS::FromUtf8(temp);
  return OS::Current().SystemTempFolder();
}

std::wstring PrivateFolderName(int index) {
  std::wstring name = L"korvel-" + std::to_wstring(OS::Current().EffectiveUserId());
  return index == 0 ? name : name + L"-" + std::to_wstring(index);
}

bool MakePrivateFolderIn(const std::wstring& sharedRoot, std::wstring& folder) {
  for (int index = 0; index < kPrivateFolderNames; ++index) {
    folder = NolkUtil::JoinPath(sharedRoot, PrivateFolderName(index));
    if (OS::Current().MakePrivateFolder(folder)) return true;
    if (OS::GetLastError() != OS::ERROR_ACCESS_DENIED) break;  // not a taken name: the others fail alike
    LogPrint("PrepareTemporaryRoot> %s is not a private folder of this user\n", OS::ToUtf8(folder).c_str());
  }
  LogPrint("PrepareTemporaryRoot> no private folder in %s, error %d\n", OS::ToUtf8(sharedRoot).c_str(),
           OS::GetLastError());
  return false;
}

bool IsTakenName(int error) {
  return error == OS::ERROR_ALREADY_EXISTS || error == OS::ERROR_FILE_EXISTS;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"/\\");
  if (separator == std::wstring::npos) return L".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

}  // namespace

bool PrepareTemporaryRoot(std::wstring& root) {
  const std::wstring chosen = ChosenRoot();
  if (!NolkUtil::MakeDirectory(chosen)) return false;
  if (!OS::Current().IsSharedFolder(chosen)) {
    root = chosen;
    return true;
  }
  return MakePrivateFolderIn(chosen, root);
}

// An empty text when no root can be prepared: every caller's MakeDirectory
// and file creation then fail, and the run reports it.
std::wstring TemporaryRoot() {
  std::wstring root;
  return PrepareTemporaryRoot(root) ? root : std::wstring();
}

// One mkdir per name: a name that exists (whoever made it) is skipped, so
// there is no moment between a check and the creation for anyone to use.
bool MakeTemporaryFolder(std::wstring& folder) {
  std::wstring root;
  if (!PrepareTemporaryRoot(root)) return false;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    folder = NolkUtil::MakeTempFileName(root);
    if (OS::Current().CreateDirectory(folder)) return true;
    if (!IsTakenName(OS::GetLastError())) return false;
  }
  return false;
}

std::FILE* CreateTemporaryFile(const std::wstring& path) {
  OS::Platform& system = OS::Current();
  // Only this user can have put the entry into a folder that is not shared;
  // deleting removes a link itself, never what it points at.
  if (!system.IsSharedFolder(FolderOf(path)) && system.Exists(path)) system.DeleteFile(path);
  return system.OpenStream(path, OS::OpenMode::CreateExclusive);
}

bool RemoveTemporaryFile(const std::wstring& path) {
  OS::Platform& system = OS::Current();
  return !system.Exists(path) || system.DeleteFile(path);
}

}  // namespace NolkPatch
