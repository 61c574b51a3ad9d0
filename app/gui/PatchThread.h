// The worker threads that belong to the window: APThread knows its owner
// window and announces the end of its run; WindowPatchThread carries one
// whole patch, repair or download run for the window.
//
// The core already has a console-neutral PatchThread (app/core/PatchJob.h);
// the window's worker is named WindowPatchThread so both can be linked
// into one program.
#pragma once

#include <atomic>

#include "app/core/Messaging.h"
#include "app/core/PatchJob.h"
#include "app/core/ProgressThreads.h"

namespace NolkPatch {

class MainFrame;

class APThread : public wxGuardedThread {
 public:
  explicit APThread(MainFrame& owner) : m_owner(owner) {}

  // Share of the work done, 0.0 to 1.0 (the repair run keeps it).
  std::atomic<float> m_progress{0.0f};

 protected:
  // Takes and releases the owner window's lock once, so a window that holds
  // it while it tears down sees the thread's last step only after it.
  void OnExit() override;
  // Posts the end-of-run notice; returns 0.
  ExitCode Body() override;

  MainFrame& Owner() const { return m_owner; }

 private:
  MainFrame& m_owner;
};

class WindowPatchThread : public APThread, public KorvelPatchTask {
 public:
  WindowPatchThread(MainFrame& owner, PatchJobHost& host) : APThread(owner), m_host(host) {}
  using KorvelPatchTask::Report;

  bool Succeeded() const { return m_succeeded; }

 protected:
  // RunPatchJob ends with the end-of-run notice itself, which is all the
  // APThread body does, so that body is not run a second time.
  ExitCode Body() override;

 private:
  PatchJobHost& m_host;
  std::atomic<bool> m_succeeded{false};
};

}  // namespace NolkPatch
