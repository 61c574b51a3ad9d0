#include "patch/DiffStep.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Md5.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"
#include "patch/PatchEngineCallbacks.h"

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

// One entry's work. It may run on a worker thread beside other entries, so
// it posts nothing itself: its messages are kept and posted when the step
// reaches the entry in list order.
struct EntryWork {
  EntryWork(const FileListEntry& listEntry, PatchedEntryPlan entryPlan)
      : entry(listEntry), plan(std::move(entryPlan)) {}

  const FileListEntry& entry;
  PatchedEntryPlan plan;
  std::vector<std::pair<int, std::wstring>> messages;
  std::vector<BackupRecord> made;  // the (file, backup) pair, once the backup is made
  bool ok = false;
  bool rebuilt = false;  // a new file was written and confirmed

  void Post(int level, std::wstring text) { messages.emplace_back(level, std::move(text)); }
};

// A started process holds a copy of every descriptor of ours until it has
// loaded its program, and the check that a file is not in use before it is
// moved (EngineFileOps.h) opens the file for a moment: a tool started by one
// entry in that moment makes another entry's file look in use. Starting a
// tool and moving a file therefore take turns.
std::mutex& StartOrMoveLock() {
  static std::mutex lock;
  return lock;
}

// With entries side by side a file was still seen in use for a moment now
// and then, even with the turns (the holder was not pinned down; another
// started process's short-lived copy of a descriptor is the likely one), so
// a file that looks in use is looked at a few more times before the move
// fails. A file that another program really holds still fails, 30 ms later.
constexpr int kInUseLooks = 4;
constexpr std::uint32_t kInUsePauseMs = 10;

bool MoveFileAside(const std::wstring& from, const std::wstring& to) {
  for (int look = 1;; ++look) {
    {
      std::lock_guard lock(StartOrMoveLock());
      if (RenameFile(from, to)) return true;
    }
    if (look == kInUseLooks || OS::GetLastError() != OS::ERROR_SHARING_VIOLATION) return false;
    OS::Current().Sleep(kInUsePauseMs);
  }
}

bool StartEntryTool(const ToolInvocation& tool, RunningTool& running) {
  std::lock_guard lock(StartOrMoveLock());
  return StartTool(tool, running);
}

void ReportAlreadyPatched(EntryWork& work) {
  work.Post(LEVEL_WARNING,
            L"Existing file appears to have been patched already: " + DisplayPath(work.plan.target));
}

PreCheck CheckInstalledFile(EntryWork& work) {
  std::string digest;
  if (!NolkUtil::Md5OfFile(work.plan.target, digest)) {
    work.Post(LEVEL_ERROR,
              L"Failed to compute the checksum for existing file: " + DisplayPath(work.plan.target));
    return PRECHECK_FAILED;
  }
  if (digest == NolkUtil::ToNarrow(work.entry.newChecksum)) {
    ReportAlreadyPatched(work);
    return PRECHECK_ALREADY_PATCHED;
  }
  if (digest != NolkUtil::ToNarrow(work.entry.oldChecksum)) {
    work.Post(LEVEL_ERROR,
              L"Existing file is damaged and cannot be patched: " + DisplayPath(work.plan.target));
    return PRECHECK_FAILED;
  }
  return PRECHECK_PATCH;
}

// The game changes its archives in place, so a converter entry is not held
// to the old checksum. One that already has the new checksum is done,
// though: rebuilding it again would fail and roll the whole patch back.
PreCheck CheckConverterFile(EntryWork& work) {
  std::string digest;
  if (!NolkUtil::Md5OfFile(work.plan.target, digest) || digest != NolkUtil::ToNarrow(work.entry.newChecksum))
    return PRECHECK_PATCH;
  ReportAlreadyPatched(work);
  return PRECHECK_ALREADY_PATCHED;
}

bool ReportBackupFailure(EntryWork& work) {
  const std::wstring reason = SystemReason();
  work.Post(LEVEL_ERROR,
            FillIn(L"Failed to create backup of file %s", L"%s", DisplayPath(work.plan.backup)) + reason);
  return false;
}

// Moves the file aside and records the pair. A backup already standing
// there is never deleted (it may be the only copy of some file), so the
// move fails instead.
bool MakeBackup(EntryWork& work) {
  if (!MoveFileAside(work.plan.target, work.plan.backup)) return ReportBackupFailure(work);
  work.made.push_back({work.plan.target, work.plan.backup});
  return true;
}

bool EnsureTargetFolder(EntryWork& work) {
  const std::wstring folder = FolderOf(work.plan.target);
  if (EnsureFolder(folder)) return true;
  const std::wstring reason = SystemReason();
  work.Post(LEVEL_ERROR, L"Could not create the directory: " + DisplayPath(folder) + reason);
  return false;
}

bool RunEntryTool(EntryWork& work, const ToolInvocation& tool) {
  RunningTool running;
  if (!StartEntryTool(tool, running)) {
    work.Post(LEVEL_INFO, L"Failed patch command: " + CommandLineOf(tool));
    return false;
  }
  const int exitCode = FinishTool(running);
  if (exitCode != 0) {
    work.Post(LEVEL_ERROR, ToolExitMessage(exitCode, work.plan.converter, work.entry.path));
    return false;
  }
  return true;
}

bool VerifyResult(EntryWork& work) {
  if (FileHasChecksum(work.plan.target, work.entry.newChecksum)) return true;
  work.Post(LEVEL_ERROR, L"Checksum mismatch after patching: " + DisplayPath(work.plan.target));
  return false;
}

// The rebuilt file takes the permissions of the file it replaces (through a
// link: of the link's target), so programs stay executable and read-only
// files stay read-only.
bool KeepPermissions(EntryWork& work, const std::wstring& oldFile) {
  std::uint32_t permissions = 0;
  if (!GetPermissions(oldFile, permissions) || OS::Current().SetPermissions(work.plan.target, permissions))
    return true;
  const std::wstring reason = SystemReason();
  work.Post(LEVEL_ERROR,
            L"Could not set the permissions of the file: " + DisplayPath(work.plan.target) + reason);
  return false;
}

bool RebuildFromBackup(EntryWork& work) {
  return MakeBackup(work) && EnsureTargetFolder(work) && RunEntryTool(work, work.plan.tool) &&
         VerifyResult(work) && KeepPermissions(work, work.plan.backup);
}

// A file that this run changed already (added it, or rebuilt it for an
// earlier entry) has its backup: the original, which the rollback needs.
// The run's own version is moved to a second, interim name and rebuilt from
// there; the interim file goes once the tool is done.
bool RebuildAgain(EntryWork& work) {
  const std::wstring interim = InterimPathOf(work.plan.target);
  if (PathExists(interim)) RemoveFileEvenReadOnly(interim);
  if (!MoveFileAside(work.plan.target, interim)) return ReportBackupFailure(work);
  ToolInvocation tool = work.plan.tool;
  tool.paths.front() = interim;
  const bool ok = RunEntryTool(work, tool) && VerifyResult(work) && KeepPermissions(work, interim);
  RemoveFileEvenReadOnly(interim);
  return ok;
}

// No backup stood beside a listed file when the run began (the engine
// checks), and entries naming the same file run one after the other, so a
// backup found now was made by this run.
void PatchEntry(EntryWork& work) {
  const PreCheck check = work.plan.converter ? CheckConverterFile(work) : CheckInstalledFile(work);
  if (check != PRECHECK_PATCH) {
    work.ok = check == PRECHECK_ALREADY_PATCHED;
    return;
  }
  work.ok = PathExists(work.plan.backup) ? RebuildAgain(work) : RebuildFromBackup(work);
  work.rebuilt = work.ok;
}

// An entry in progress, on its own thread when one could be started.
struct RunningEntry {
  std::unique_ptr<EntryWork> work;
  std::wstring key;    // PathKey of the target
  bool alone = false;  // nothing may run beside it
  std::thread thread;
};

// Two entries touch the same files when one's target begins with the
// other's: the tool writes its target, a temporary name beside it and reads
// the backup, all of which begin with the target.
bool Overlaps(const std::wstring& first, const std::wstring& second) {
  return first.starts_with(second) || second.starts_with(first);
}

// Runs the patched list with up to `slots` entries at once. Entries start
// in list order; one whose files overlap an entry still running waits for
// it, and some entries run alone (see NeedsToRunAlone). Results are taken
// in list order: messages are posted, pairs recorded and files queued for
// the disk exactly as a run entry by entry would, and at the first failure
// nothing more starts. Entries already running then finish (their backups
// are recorded, so the rollback restores them) but post nothing.
class PatchedStepRunner {
 public:
  PatchedStepRunner(const std::wstring& installFolder, const std::wstring& patchFolder,
                    const std::vector<FileListEntry>& entries, std::vector<BackupRecord>& patched,
                    DiskForcer* forcer)
      : m_installFolder(installFolder),
        m_patchFolder(patchFolder),
        m_entries(entries),
        m_patched(patched),
        m_forcer(forcer),
        m_slots(std::max(2u, std::thread::hardware_concurrency())),
        m_notTaken(TargetKeys(installFolder, entries)) {}

  bool Run() {
    bool stopped = false;
    for (const FileListEntry& entry : m_entries) {
      const bool last = &entry == &m_entries.back();
      if (m_failed) break;
      if (!EngineStepAllowed()) {
        stopped = true;
        break;
      }
      const std::wstring key = PathKey(InstallFilePath(m_installFolder, entry.path));
      const bool alone = last || NeedsToRunAlone(entry, key);
      while (!m_failed && !CanStart(key, alone)) TakeOldest();
      if (!m_failed) Start(entry, key, alone);
    }
    while (!m_running.empty()) TakeOldest();
    return !m_failed && !stopped;
  }

 private:
  static std::multiset<std::wstring> TargetKeys(const std::wstring& installFolder,
                                                const std::vector<FileListEntry>& entries) {
    std::multiset<std::wstring> keys;
    for (const FileListEntry& entry : entries)
      keys.insert(PathKey(InstallFilePath(installFolder, entry.path)));
    return keys;
  }

  // The last entry (the launcher that identifies the build) runs alone too,
  // so it is rebuilt only once every other file is (see PatchJournal.h).
  // The converter is the game's program, of which nothing is known, and
  // whether an entry is a converter entry depends on the converter being
  // there; an entry that rebuilds one of the tools moves it aside while
  // other entries would start it. So these run with nothing beside them.
  bool NeedsToRunAlone(const FileListEntry& entry, const std::wstring& key) const {
    const std::wstring toolsFolder = ToolsFolderOf(m_installFolder);
    return HasConverterName(NameOf(InstallFilePath(m_installFolder, entry.path))) ||
           key == PathKey(toolsFolder + kDiffTool) || key == PathKey(toolsFolder + kConverterTool);
  }

  bool CanStart(const std::wstring& key, bool alone) const {
    if (m_running.empty()) return true;
    if (alone || m_running.size() >= m_slots) return false;
    for (const RunningEntry& running : m_running)
      if (running.alone || Overlaps(running.key, key)) return false;
    return true;
  }

  void Start(const FileListEntry& entry, const std::wstring& key, bool alone) {
    RunningEntry running;
    // Planned now, when every earlier entry it depends on is done.
    running.work =
        std::make_unique<EntryWork>(entry, PlanPatchedEntry(m_installFolder, m_patchFolder, entry));
    running.key = key;
    running.alone = alone;
    EntryWork* work = running.work.get();
    try {
      running.thread = std::thread([work] {
        OS::Current().UseFaultStackOnThisThread();  // a fault here can still be reported
        PatchEntry(*work);
      });
    } catch (const std::system_error&) {
      PatchEntry(*work);  // no thread to be had: the entry runs here
    }
    m_running.push_back(std::move(running));
  }

  // Waits for the oldest running entry and takes its results.
  void TakeOldest() {
    RunningEntry running = std::move(m_running.front());
    m_running.pop_front();
    if (running.thread.joinable()) running.thread.join();
    EntryWork& work = *running.work;
    m_patched.insert(m_patched.end(), work.made.begin(), work.made.end());
    m_notTaken.erase(m_notTaken.find(running.key));
    if (m_failed) return;
    for (const auto& [level, text] : work.messages) PostEngineMessage(level, text);
    if (!work.ok) {
      m_failed = true;
      return;
    }
    if (work.rebuilt) QueueRebuiltFile(work.plan.target, running.key);
  }

  // A rebuilt file that a later entry names again may still be moved, so it
  // is forced only at the commit (CommitToDisk.h).
  void QueueRebuiltFile(const std::wstring& target, const std::wstring& key) {
    if (m_forcer == nullptr) return;
    if (m_notTaken.count(key) != 0) {
      m_forcer->AddAtFinish(target);
    } else {
      m_forcer->Add(target);
    }
  }

  const std::wstring& m_installFolder;
  const std::wstring& m_patchFolder;
  const std::vector<FileListEntry>& m_entries;
  std::vector<BackupRecord>& m_patched;
  DiskForcer* m_forcer;
  const std::size_t m_slots;
  std::deque<RunningEntry> m_running;      // in list order
  std::multiset<std::wstring> m_notTaken;  // keys of the entries whose results are not taken yet
  bool m_failed = false;
};

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
  return PatchedStepRunner(installFolder, patchFolder, entries, patched, forcer).Run();
}

}  // namespace NolkPatch
