// The worker's whole run, independent of the user interface: the front end
// supplies a host for message boxes, the Apply button and the cancel flag.
#pragma once

#include <atomic>
#include <string>

#include "app/core/Messaging.h"
#include "app/core/ProgressThreads.h"

namespace NolkPatch {

class PatchJobHost {
 public:
  virtual ~PatchJobHost() = default;
  // A box with an OK button and no owner window; may block until closed.
  virtual void ShowMessageBox(const std::wstring& text, const std::wstring& caption) = 0;
  // Called from the worker thread: the host moves it onto its window thread.
  virtual void EnableApply(bool enable) = 0;
  virtual bool CancelRequested() = 0;
};

// Switches the string table to English, checks write access and the asset
// database, runs the repair, standalone or download run, posts "Patching
// completed." or "Patching aborted.", releases the database and posts the
// end-of-run notice last. True when the run completed.
bool RunPatchJob(PatchJobHost& host);
// As above, reporting through the given task.
bool RunPatchJob(PatchJobHost& host, KorvelPatchTask& task);

// The worker thread of one run.
class PatchThread : public wxGuardedThread, public KorvelPatchTask {
 public:
  explicit PatchThread(PatchJobHost& host) : m_host(host) {}
  using KorvelPatchTask::Report;
  // Whether the run completed; valid once the thread has ended.
  bool Succeeded() const { return m_succeeded; }

 protected:
  ExitCode Body() override;

 private:
  PatchJobHost& m_host;
  std::atomic<bool> m_succeeded{false};
};

// Announces every repair stage from `counter` up to below `target`,
// advancing the counter: 1 "Scanning installed files. This may take a
// while.", 2 "Connecting to patch servers.", 3 "Preparing download list.",
// 4 "Receiving updated files."; other stage numbers post nothing.
void AdvanceRepairStage(int& counter, int target);

}  // namespace NolkPatch
