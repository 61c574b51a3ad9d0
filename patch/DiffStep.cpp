#include "patch/DiffStep.h"

#include <set>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Md5.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PrecomputedDigest.h"

namespace NolkPatch {
namespace {

constexpr wchar_t kDiffTool[] = L"vpatchl-w32.exe";
constexpr wchar_t kConverterTool[] = L"VAConverter.exe";
constexpr wchar_t kConverterVerb[] = L"patchapply";
constexpr wchar_t kConverterExtension[] = L".va";

enum PreCheck { PRECHECK_PATCH, PRECHECK_ALREADY_PATCHED, PRECHECK_FAILED };

// P\data\<folders>\<stem>-diff.<extension>: Base.va gives Base-diff.va.
std::wstring ConverterDiffPath(const std::wstring& patchFolder, const std::wstring& listPath) {
  const std::wstring data = PatchDataPath(patchFolder, listPath);
  const std::wstring name = NameOf(data);
  const std::size_t dot = name.rfind(L'.');
  const std::wstring stem = name.substr(0, dot);
  const std::wstring extension = name.substr(dot + 1);
  return data.substr(0, data.size() - name.size()) + stem + L"-diff." + extension;
}

ToolInvocation GeneralTool(const std::wstring& toolsFolder, const PatchedEntryPlan& plan) {
  return {toolsFolder + kDiffTool, {}, {plan.backup, plan.diff, plan.target}, toolsFolder};
}

ToolInvocation ConverterTool(const std::wstring& toolsFolder, const PatchedEntryPlan& plan) {
  return {toolsFolder + kConverterTool, {kConverterVerb}, {plan.backup, plan.diff, plan.target}, toolsFolder};
}

void ReportAlreadyPatched(const PatchedEntryPlan& plan) {
  PostEngineMessage(LEVEL_WARNING,
                    L"Existing file appears to have been patched already: " + DisplayPath(plan.target));
}

PreCheck CheckInstalledFile(const PatchedEntryPlan& plan, const FileListEntry& entry,
                            PrecomputedDigest& digests) {
  std::string digest;
  if (!digests.DigestOf(plan.target, digest)) {
    PostEngineMessage(LEVEL_ERROR,
                      L"Failed to compute the checksum for existing file: " + DisplayPath(plan.target));
    return PRECHECK_FAILED;
  }
  if (digest == NolkUtil::ToNarrow(entry.newChecksum)) {
    ReportAlreadyPatched(plan);
    return PRECHECK_ALREADY_PATCHED;
  }
  if (digest != NolkUtil::ToNarrow(entry.oldChecksum)) {
    PostEngineMessage(LEVEL_ERROR,
                      L"Existing file is damaged and cannot be patched: " + DisplayPath(plan.target));
    return PRECHECK_FAILED;
  }
  return PRECHECK_PATCH;
}

// The game changes its archives in place, so a converter entry is not held
// to the old checksum. One that already has the new checksum is done,
// though: rebuilding it again would fail and roll the whole patch back.
PreCheck CheckConverterFile(const PatchedEntryPlan& plan, const FileListEntry& entry,
                            PrecomputedDigest& digests) {
  std::string digest;
  if (!digests.DigestOf(plan.target, digest) || digest != NolkUtil::ToNarrow(entry.newChecksum))
    return PRECHECK_PATCH;
  ReportAlreadyPatched(plan);
  return PRECHECK_ALREADY_PATCHED;
}

bool ReportBackupFailure(const PatchedEntryPlan& plan) {
  const std::wstring reason = SystemReason();
  PostEngineMessage(LEVEL_ERROR,
                    FillIn(L"Failed to create backup of file %s", L"%s", DisplayPath(plan.backup)) + reason);
  return false;
}

// Moves the file aside and records the pair. A backup already standing
// there is never deleted (it may be the only copy of some file), so the
// move fails instead.
bool MakeBackup(const PatchedEntryPlan& plan, std::vector<BackupRecord>& patched) {
  if (!RenameFile(plan.target, plan.backup)) return ReportBackupFailure(plan);
  patched.push_back({plan.target, plan.backup});
  return true;
}

bool EnsureTargetFolder(const PatchedEntryPlan& plan) {
  const std::wstring folder = FolderOf(plan.target);
  if (EnsureFolder(folder)) return true;
  const std::wstring reason = SystemReason();
  PostEngineMessage(LEVEL_ERROR, L"Could not create the directory: " + DisplayPath(folder) + reason);
  return false;
}

// What the step carries from entry to entry.
struct PatchedStepState {
  const std::wstring& installFolder;
  const std::wstring& patchFolder;
  std::vector<BackupRecord>& patched;
  DiskForcer* forcer;
  PrecomputedDigest digests;
  // The installed file of the entry after the current one; empty for the
  // last entry.
  std::wstring nextTarget;
  // Keys (PathKey) of the files that entries after the current one name.
  std::multiset<std::wstring> namedLater;
};

std::multiset<std::wstring> TargetKeys(const std::wstring& installFolder,
                                       const std::vector<FileListEntry>& entries) {
  std::multiset<std::wstring> keys;
  for (const FileListEntry& entry : entries) keys.insert(PathKey(InstallFilePath(installFolder, entry.path)));
  return keys;
}

// A rebuilt file that a later entry names again may still be moved, so it
// is forced only at the commit (CommitToDisk.h).
void QueueRebuiltFile(const PatchedEntryPlan& plan, PatchedStepState& state) {
  if (state.forcer == nullptr) return;
  if (state.namedLater.count(PathKey(plan.target)) != 0) {
    state.forcer->AddAtFinish(plan.target);
  } else {
    state.forcer->Add(plan.target);
  }
}

// The next entry's file is hashed while the tool runs: the tool is our own
// diff tool, which touches only the names that begin with the target (see
// HashableWhileRebuilding). The converter is the game's program, so
// nothing runs beside it.
void HashNextWhileToolRuns(const PatchedEntryPlan& plan, PatchedStepState& state) {
  if (plan.converter || state.nextTarget.empty() || !HashableWhileRebuilding(state.nextTarget, plan.target))
    return;
  state.digests.Compute(state.nextTarget);
}

bool RunEntryTool(const PatchedEntryPlan& plan, const FileListEntry& entry, PatchedStepState& state) {
  RunningTool tool;
  if (!StartTool(plan.tool, tool)) {
    PostEngineMessage(LEVEL_INFO, L"Failed patch command: " + CommandLineOf(plan.tool));
    return false;
  }
  HashNextWhileToolRuns(plan, state);
  const int exitCode = FinishTool(tool);
  if (exitCode != 0) {
    PostEngineMessage(LEVEL_ERROR, ToolExitMessage(exitCode, plan.converter, entry.path));
    return false;
  }
  return true;
}

bool VerifyResult(const PatchedEntryPlan& plan, const FileListEntry& entry) {
  if (FileHasChecksum(plan.target, entry.newChecksum)) return true;
  PostEngineMessage(LEVEL_ERROR, L"Checksum mismatch after patching: " + DisplayPath(plan.target));
  return false;
}

// The rebuilt file takes the permissions of the file it replaces (through a
// link: of the link's target), so programs stay executable and read-only
// files stay read-only.
bool KeepPermissions(const PatchedEntryPlan& plan, const std::wstring& oldFile) {
  std::uint32_t permissions = 0;
  if (!GetPermissions(oldFile, permissions) || OS::Current().SetPermissions(plan.target, permissions))
    return true;
  const std::wstring reason = SystemReason();
  PostEngineMessage(LEVEL_ERROR,
                    L"Could not set the permissions of the file: " + DisplayPath(plan.target) + reason);
  return false;
}

// Backup, tool and check; a confirmed result is queued to be forced to the
// disk before the commit.
bool RebuildFromBackup(const PatchedEntryPlan& plan, const FileListEntry& entry, PatchedStepState& state) {
  if (!MakeBackup(plan, state.patched) || !EnsureTargetFolder(plan) || !RunEntryTool(plan, entry, state) ||
      !VerifyResult(plan, entry) || !KeepPermissions(plan, plan.backup))
    return false;
  QueueRebuiltFile(plan, state);
  return true;
}

// A file that this run changed already (added it, or rebuilt it for an
// earlier entry) has its backup: the original, which the rollback needs.
// The run's own version is moved to a second, interim name and rebuilt from
// there; the interim file goes once the tool is done.
bool RebuildAgain(PatchedEntryPlan plan, const FileListEntry& entry, PatchedStepState& state) {
  const std::wstring interim = InterimPathOf(plan.target);
  if (PathExists(interim)) RemoveFileEvenReadOnly(interim);
  if (!RenameFile(plan.target, interim)) return ReportBackupFailure(plan);
  plan.tool.paths.front() = interim;
  const bool ok =
      RunEntryTool(plan, entry, state) && VerifyResult(plan, entry) && KeepPermissions(plan, interim);
  RemoveFileEvenReadOnly(interim);
  if (ok) QueueRebuiltFile(plan, state);
  return ok;
}

// No backup stood beside a listed file when the run began (the engine
// checks), so a backup found now was made by this run.
bool Rebuild(const PatchedEntryPlan& plan, const FileListEntry& entry, PatchedStepState& state) {
  if (PathExists(plan.backup)) return RebuildAgain(plan, entry, state);
  return RebuildFromBackup(plan, entry, state);
}

bool PatchEntry(const FileListEntry& entry, PatchedStepState& state) {
  const PatchedEntryPlan plan = PlanPatchedEntry(state.installFolder, state.patchFolder, entry);
  const PreCheck check = plan.converter ? CheckConverterFile(plan, entry, state.digests)
                                        : CheckInstalledFile(plan, entry, state.digests);
  if (check == PRECHECK_ALREADY_PATCHED) return true;
  if (check == PRECHECK_FAILED) return false;
  return Rebuild(plan, entry, state);
}

}  // namespace

bool HasConverterName(const std::wstring& fileName) {
  const std::size_t length = std::char_traits<wchar_t>::length(kConverterExtension);
  return fileName.size() >= length && fileName.find(kConverterExtension) == fileName.size() - length;
}

PatchedEntryPlan PlanPatchedEntry(const std::wstring& installFolder, const std::wstring& patchFolder,
                                  const FileListEntry& entry) {
  const std::wstring toolsFolder = ToolsFolderOf(installFolder);
  PatchedEntryPlan plan;
  plan.target = InstallFilePath(installFolder, entry.path);
  plan.backup = BackupPathOf(plan.target);
  plan.converter =
      HasConverterName(NameOf(plan.target)) && NolkUtil::FileExists(toolsFolder + kConverterTool);
  plan.diff = plan.converter ? ConverterDiffPath(patchFolder, entry.path)
                             : PatchDataPath(patchFolder, entry.path) + L".diff";
  plan.tool = plan.converter ? ConverterTool(toolsFolder, plan) : GeneralTool(toolsFolder, plan);
  // A patch that rebuilds the tool itself: by the time the tool runs, the
  // old program has been moved to the backup, so it runs from there.
  if (PathKey(plan.tool.program) == PathKey(plan.target)) plan.tool.program = plan.backup;
  return plan;
}

std::wstring ToolExitMessage(int exitCode, bool converter, const std::wstring& entryPath) {
  switch (exitCode) {
    case 1:
      return converter ? FillIn(L"Failed to patch %s, file contents do not match", L"%s", entryPath)
                       : L"Not enough Argument Specified to patch the file";
    case 2:
      return FillIn(L"Could not open data file %s for reading.", L"%s", entryPath);
    case 3:
      return FillIn(L"Could not open patch file %s for reading.", L"%s", entryPath);
    case 4:
      return L"Could not open output file for writing.";
    default:
      return FillIn(
          FillIn(L"An unknown error (%d) occurred while patching file %s", L"%d", std::to_wstring(exitCode)),
          L"%s", entryPath);
  }
}

bool RunPatchedStep(const std::wstring& installFolder, const std::wstring& patchFolder,
                    const std::vector<FileListEntry>& entries, std::vector<BackupRecord>& patched,
                    DiskForcer* forcer) {
  PatchedStepState state{
      installFolder, patchFolder, patched, forcer, {}, {}, TargetKeys(installFolder, entries)};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!EngineStepAllowed()) return false;
    state.namedLater.erase(state.namedLater.find(PathKey(InstallFilePath(installFolder, entries[i].path))));
    const bool last = i + 1 == entries.size();
    state.nextTarget = last ? std::wstring() : InstallFilePath(installFolder, entries[i + 1].path);
    if (!PatchEntry(entries[i], state)) return false;
  }
  return true;
}

}  // namespace NolkPatch
