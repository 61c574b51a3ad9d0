#include "app/core/InstallDiscovery.h"

#include <atomic>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Md5.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "app/core/Messaging.h"
#include "patch/BuildHash.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchJournal.h"
#include "patch/PatchPackage.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

std::atomic<bool> g_alreadyCurrent{false};

constexpr wchar_t kProductsKey[] = L"SOFTWARE\\Korvel\\Products";
constexpr wchar_t kProductKey[] = L"OmbrixSimulator";
constexpr wchar_t kProductClass[] = L"Ombrix";
constexpr wchar_t kClassValue[] = L"ProductClass";
constexpr wchar_t kInstallPathValue[] = L"ProductInstallPath";
constexpr wchar_t kMarkerFile[] = L"bin/launcher.exe";

constexpr int kLevelInfo = 0;
constexpr int kLevelError = 2;
constexpr int kTextPackageUnreadable = 181;
constexpr int kTextVersionUnknown = 183;
constexpr int kTextNotApplicable = 184;
constexpr int kTextBuildHash = 185;
constexpr int kTextAlreadyCurrent = 186;
constexpr int kTextReady = 187;
constexpr int kTextCurrentVersion = 188;
constexpr int kTextTargetVersion = 189;
constexpr wchar_t kTextRequestingUser[] =
    L"Unable to determine Ombrix installation path. Requesting user to specify installation location.\n";
constexpr wchar_t kTextUserCancelled[] =
    L"Unable to determine installation location. Aborted patching at user's request.";

// A value that is missing, or is not a string, reads as empty.
std::wstring ReadString(const OS::RegistryStore& store, const std::wstring& key, const wchar_t* name) {
  std::wstring value;
  if (!store.GetString(key, name, value)) value.clear();
  return value;
}

bool ClassMatches(const std::wstring& productClass, const std::wstring& wanted) {
  return wanted.empty() || OS::RegistryNamesEqual(productClass, wanted);
}

// The folder part of a chosen file, up to and including its last separator;
// empty when the path has none.
std::wstring FolderOfChosenFile(const std::wstring& file) {
  const std::size_t separator = file.find_last_of(L"/\\");
  return separator == std::wstring::npos ? std::wstring() : file.substr(0, separator + 1);
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// A user who picks bin\Ombrix.exe means the installation root: a folder
// whose last component is "bin" (exact case) is replaced by its parent,
// which again ends with a separator. Only the whole component counts, so a
// folder such as "Robin\" is kept.
std::wstring InstallRootOfFolder(const std::wstring& folder) {
  constexpr std::size_t kBinWithSeparator = 4;
  if (folder.size() < kBinWithSeparator || !IsSeparator(folder.back())) return folder;
  const std::size_t start = folder.size() - kBinWithSeparator;
  if (folder.compare(start, 3, L"bin") != 0) return folder;
  if (start > 0 && !IsSeparator(folder[start - 1])) return folder;
  return folder.substr(0, start);
}

// A run stopped while it rebuilt the launcher leaves only the launcher's
// backup; the build is then the backup's (BuildHashBeforeInterruptedRun).
bool IdentifyBuild(const std::wstring& folder, std::string& hash) {
  if (!IsInstallFolder(folder)) return false;
  if (!NolkUtil::FileExists(LauncherPath(folder))) return true;
  return ComputeBuildHash(folder, hash) && !hash.empty();
}

// Finds a folder whose build can be identified: the candidate first, then
// the front end's choices; `candidate` ends as the folder identified. False
// when the user cancelled.
bool FindIdentifiableFolder(std::wstring& candidate, bool userRequested, InstallLocatorFrontEnd& frontEnd,
                            std::string& hash) {
  for (;;) {
    if (!candidate.empty()) {
      if (IdentifyBuild(candidate, hash)) return true;
      PostPatchMessage(kLevelError, LoadMessageText(kTextVersionUnknown));
    } else if (!userRequested) {
      PostPatchMessage(kLevelError, kTextRequestingUser);
    }
    const std::wstring chosen = frontEnd.ChooseGameProgram();
    if (chosen.empty()) {
      PostPatchMessage(kLevelError, kTextUserCancelled);
      return false;
    }
    candidate = InstallRootOfFolder(FolderOfChosenFile(chosen));
    PatchSettings::Get().InstallPath = candidate;
  }
}

void PostFilled(int level, int id, const std::string& value) {
  PostPatchMessage(level, FillIn(LoadMessageText(id), L"%s", NolkUtil::ToWide(value)));
}

void EnterStandaloneMode(const std::string& installedVersion, const std::string& finalVersion) {
  PatchSettings& settings = PatchSettings::Get();
  settings.SetCurrentVersion(installedVersion);
  settings.SetTargetVersion(std::string());
  settings.SetFinalVersion(finalVersion);
  settings.RepairMode = false;
  settings.SetStandaloneMode(true);
}

void AnnounceReady(InstallLocatorFrontEnd& frontEnd) {
  const PatchSettings& settings = PatchSettings::Get();
  PostPatchMessage(kLevelInfo, LoadMessageText(kTextReady));
  frontEnd.EnableApply();
  if (!settings.CurrentVersion().empty())
    PostFilled(kLevelInfo, kTextCurrentVersion, settings.CurrentVersion());
  if (!settings.FinalVersion().empty()) PostFilled(kLevelInfo, kTextTargetVersion, settings.FinalVersion());
  PostPatchMessage(kLevelInfo, std::wstring());
}

// A run killed part way may have replaced the launcher already and left the
// old one beside it as a backup; the next run first puts every backup back,
// so the build installed is the backup's. A backup whose build the package
// does not know is not taken for one.
//
// Where the installation has a journal, only a run it shows unfinished
// counts: a backup left beside the launcher of a committed patch is a
// leftover, and the build is the launcher's own. Without a journal (a run
// of an older patcher) every such backup is taken, as it always was.
std::string BuildHashBeforeInterruptedRun(const std::wstring& folder, const std::string& hash) {
  PatchJournal journal;
  const bool hasJournal = NolkUtil::FileExists(PatchJournalPath(folder));
  const bool unfinished =
      !hasJournal || (ReadPatchJournal(folder, journal) && journal.phase == JournalPhase::Applying);
  if (!unfinished && !hash.empty()) return hash;
  const std::wstring backup = BackupPathOf(LauncherPath(folder));
  std::string backupHash;
  if (!NolkUtil::FileExists(backup) || !NolkUtil::Md5OfFile(backup, backupHash)) return hash;
  return PatchPackage::Instance().FindVersionForBuildHash(backupHash).empty() ? hash : backupHash;
}

// A run that found the build current may still have work left: the asset
// database rebuild, or the leftovers of a committed patch.
bool WorkLeftInCurrentBuild(const std::wstring& folder) {
  PatchJournal journal;
  return ReadPatchJournal(folder, journal) &&
         (journal.rebuildOwed || journal.phase == JournalPhase::Committed);
}

// The version a committed patch reached, when a rebuild or leftovers are
// still owed to it; empty otherwise.
std::string VersionWithWorkLeft(const std::wstring& folder) {
  PatchJournal journal;
  if (!ReadPatchJournal(folder, journal)) return std::string();
  return journal.rebuildOwed || journal.phase == JournalPhase::Committed ? journal.version : std::string();
}

// Matches the identified build against the package's tables. A package
// that does not list its own final build still finishes what a run of it
// left owed at that build.
bool PackageApplies(const std::string& hash, InstallLocatorFrontEnd& frontEnd) {
  PatchPackage& package = PatchPackage::Instance();
  std::string installedVersion = package.FindVersionForBuildHash(hash);
  if (installedVersion.empty() && VersionWithWorkLeft(PatchSettings::Get().InstallPath) == package.GetBuild())
    installedVersion = package.GetBuild();
  if (installedVersion.empty()) {
    PostPatchMessage(kLevelError, LoadMessageText(kTextNotApplicable));
    PostFilled(kLevelInfo, kTextBuildHash, hash);
    return false;
  }
  const std::string finalVersion = package.GetBuild();
  if (finalVersion == installedVersion && !WorkLeftInCurrentBuild(PatchSettings::Get().InstallPath)) {
    PostPatchMessage(kLevelError, LoadMessageText(kTextAlreadyCurrent));
    g_alreadyCurrent = true;
    return false;
  }
  EnterStandaloneMode(installedVersion, finalVersion);
  AnnounceReady(frontEnd);
  return true;
}

// At start-up the folder examined is the one the run will patch:
// InstallPath, which start-up filled from the command line or from the
// registry. Examining the registered folder while the command line names
// another would match the package against one installation and then patch
// a different one.
std::wstring StartupCandidate() {
  const std::wstring& installPath = PatchSettings::Get().InstallPath;
  return installPath.empty() ? FindProductInstallPath(kProductKey, kProductClass) : installPath;
}

}  // namespace

std::wstring FindProductInstallPath(const std::wstring& productKey, const std::wstring& productClass) {
  if (productKey.empty()) return std::wstring();
  const OS::RegistryStore& store = OS::RegistryStore::Default();
  const std::wstring productPath = std::wstring(kProductsKey) + L"\\" + productKey;
  // The product key is opened with full access, as the installer's lookup
  // always has: a process that may not write the store finds nothing.
  if (!store.KeyExists(kProductsKey) || !store.CanWrite(productPath)) return std::wstring();
  std::wstring result;
  for (const std::wstring& subkey : store.EnumSubkeys(productPath)) {
    const std::wstring subkeyPath = productPath + L"\\" + subkey;
    if (!ClassMatches(ReadString(store, subkeyPath, kClassValue), productClass)) continue;
    std::wstring installPath = ReadString(store, subkeyPath, kInstallPathValue);
    if (!installPath.empty()) result = std::move(installPath);
  }
  return result;
}

// The launcher's backup counts as well: a run stopped while it rebuilt the
// launcher leaves only the backup, and the next run must recognise the
// folder to put it back.
bool IsInstallFolder(const std::wstring& folder) {
  if (folder.empty()) return false;
  const std::wstring marker = NolkUtil::NormalizeSeparators(NolkUtil::JoinPath(folder, kMarkerFile));
  return NolkUtil::FileExists(marker) || NolkUtil::FileExists(BackupPathOf(marker));
}

bool InstallationAlreadyCurrent() {
  return g_alreadyCurrent;
}

bool LocateInstallation(const std::wstring& programPath, bool userRequested,
                        InstallLocatorFrontEnd& frontEnd) {
  g_alreadyCurrent = false;
  const NolkResult opened = PatchPackage::Instance().Open(programPath);
  if (opened == NOLKRESULT_NOT_SUPPORTED) return false;
  if (opened != NOLKRESULT_OK) {
    // A package without the publisher's signature is never used; the player
    // is told why before the usual message.
    if (opened == NOLKRESULT_REFUSED)
      PostPatchMessage(kLevelError, L"Patch file refused: " +
                                        NolkUtil::ToWide(PatchPackage::Instance().SignatureProblem()) + L".");
    PostPatchMessage(kLevelError, LoadMessageText(kTextPackageUnreadable));
    return false;
  }
  frontEnd.EnableBrowse();
  std::wstring candidate = userRequested ? std::wstring() : StartupCandidate();
  std::string hash;
  if (!FindIdentifiableFolder(candidate, userRequested, frontEnd, hash)) return false;
  return PackageApplies(BuildHashBeforeInterruptedRun(candidate, hash), frontEnd);
}

}  // namespace NolkPatch
