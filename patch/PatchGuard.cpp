#include "patch/PatchGuard.h"

#include <mutex>

#include "KernelStandard/TextConvert.h"
#include "patch/AssetDatabase.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngine.h"
#include "patch/PatchJournal.h"
#include "patch/PatchSettings.h"
#include "patch/PatchingFlag.h"

namespace NolkPatch {
namespace {

constexpr wchar_t kLauncherName[] = L"NolkLauncher.exe";
constexpr int kLevelWarning = 1;
constexpr int kLevelError = 2;

struct ShowInstallPathSlot {
  std::mutex mutex;
  std::function<void()> hook;
};

ShowInstallPathSlot& Slot() {
  static ShowInstallPathSlot slot;
  return slot;
}

void ShowInstallPath() {
  std::function<void()> hook;
  {
    std::lock_guard lock(Slot().mutex);
    hook = Slot().hook;
  }
  if (hook) hook();
}

const std::wstring& InstallFolder() {
  return PatchSettings::Get().InstallPath;
}

bool ReadJournal(PatchJournal& journal) {
  if (ReadPatchJournal(InstallFolder(), journal)) return true;
  LogSinkReport(kLevelError,
                L"The patch journal of this installation cannot be read, so nothing was changed: " +
                    DisplayPath(PatchJournalPath(InstallFolder())));
  return false;
}

bool WriteJournal(const PatchJournal& journal) {
  if (WritePatchJournal(InstallFolder(), journal)) return true;
  const std::wstring reason = SystemReason();
  LogSinkReport(kLevelError, L"Could not write the patch journal " +
                                 DisplayPath(PatchJournalPath(InstallFolder())) + reason);
  return false;
}

bool RefuseOtherPatch(const PatchJournal& journal, const std::string& patchName) {
  if (journal.phase != JournalPhase::Applying || journal.patch == patchName) return false;
  LogSinkReport(kLevelError,
                L"The patch " + NolkUtil::ToWide(journal.patch) +
                    L" was interrupted and left its backups in this installation. Run that patch "
                    L"again to finish it first; nothing was changed.");
  return true;
}

// The commit point: from here on the next run drops these backups instead
// of moving them back.
bool RecordCommit(PatchJournal& journal, const std::vector<std::wstring>& backups) {
  journal.phase = JournalPhase::Committed;
  journal.backups = backups;
  journal.version = PatchSettings::Get().TargetVersion();
  return WriteJournal(journal);
}

void DropLeftoverBackups(const std::vector<std::wstring>& backups) {
  for (const std::wstring& backup : backups) {
    if (PathExists(backup) && !RemoveFileEvenReadOnly(backup))
      LogSinkReport(kLevelWarning, L"Could not remove the backup " + DisplayPath(backup) + SystemReason());
  }
}

// A backup the commit could not drop (the file was in use, say) stays in
// the journal, so the next run drops it; false while any is left.
bool KeepBackupsNotDropped(PatchJournal& journal) {
  std::vector<std::wstring> left;
  for (const std::wstring& backup : journal.backups) {
    if (PathExists(backup)) left.push_back(backup);
  }
  if (left.empty()) return true;
  journal.backups = left;
  WriteJournal(journal);
  return false;
}

bool ClearPatch(PatchJournal& journal) {
  journal.phase = JournalPhase::None;
  journal.patch.clear();
  journal.backups.clear();
  return WriteJournal(journal);
}

}  // namespace

void SetShowInstallPathHook(std::function<void()> hook) {
  std::lock_guard lock(Slot().mutex);
  Slot().hook = std::move(hook);
}

bool SettleCommittedPatch() {
  PatchJournal journal;
  if (!ReadJournal(journal)) return false;
  if (journal.phase != JournalPhase::Committed) return true;
  DropLeftoverBackups(journal.backups);
  if (!ClearPatch(journal)) return false;
  ClearPatchingFlag();
  return true;
}

bool RebuildOwed() {
  PatchJournal journal;
  return ReadPatchJournal(InstallFolder(), journal) && journal.rebuildOwed;
}

bool ApplyPatchGuarded(const std::wstring& patchFolder) {
  const std::string patchName = PatchSettings::Get().PatchName();
  PatchJournal journal;
  if (!ReadJournal(journal) || RefuseOtherPatch(journal, patchName)) return false;
  ApplyOptions options;
  options.backupsAreThisPatchs = journal.phase == JournalPhase::Applying;
  const bool rebuildOwedBefore = journal.rebuildOwed;
  journal.rebuildOwed = true;
  journal.phase = JournalPhase::Applying;
  journal.patch = patchName;
  journal.backups.clear();
  if (!WriteJournal(journal)) return false;

  SetPatchingFlag();
  ShowInstallPath();
  options.beforeCommit = [&journal](const std::vector<std::wstring>& backups) {
    return RecordCommit(journal, backups);
  };
  const bool ok = ApplyPatch(InstallFolder(), patchFolder, kLauncherName, &options);
  if (ok) {
    if (KeepBackupsNotDropped(journal) && ClearPatch(journal)) ClearPatchingFlag();
    return true;
  }
  SetPatchingFlag();
  // A patch rolled back completely left the files as they were, so it owes
  // no rebuild of its own.
  if (options.rolledBackFully) {
    journal.rebuildOwed = rebuildOwedBefore;
    ClearPatch(journal);
  }
  return false;
}

bool RebuildAndSettle() {
  if (RebuildAssetDatabase()) {
    PatchJournal journal;
    if (!ReadJournal(journal)) return false;
    journal.rebuildOwed = false;
    journal.version.clear();
    return WriteJournal(journal);
  }
  LogSinkReport(
      kLevelError,
      L"The Ombrix asset database still has to be rebuilt; the patcher rebuilds it the next time it runs.");
  return false;
}

}  // namespace NolkPatch
