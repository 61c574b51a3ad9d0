// Worker thread base and the two threads that only move the progress bar
// during long external steps.
#pragma once

#include <wx/thread.h>

#include "KernelStandard/WEvent.h"

namespace NolkPatch {

// A joinable toolkit thread whose entry guards the body: a fault or an
// escaping exception ends the process through the fatal-fault handling
// (crash dump, message, exit code -1). Under a debugger the body is called
// without the guard, so the debugger sees the fault where it happens.
class wxGuardedThread : public wxThread {
 public:
  wxGuardedThread() : wxThread(wxTHREAD_JOINABLE) {}

 protected:
  ExitCode Entry() final;
  virtual ExitCode Body() = 0;
};

// A thread that moves the progress bar in 500 ms steps until it is told
// to stop. It waits on an event between steps, so a stop takes effect at
// once instead of after the current step.
class AnimationThread : public wxGuardedThread {
 public:
  void RequestStop() { m_stop.Set(); }

 protected:
  // Waits one step; false when a stop was requested.
  bool WaitStep();

 private:
  Vek::WEvent m_stop{true, false};
};

// While a patch archive is unpacked: fills the bar to half within the
// expected minutes in 500 ms steps, then waits there.
class OADHackProgressThread : public AnimationThread {
 public:
  explicit OADHackProgressThread(int minutes) : m_minutes(minutes) {}

 protected:
  ExitCode Body() override;

 private:
  int m_minutes;
};

// While the asset database is rebuilt: from half to full over at most ten
// minutes in 500 ms steps, then full.
class OADRepairProgressThread : public AnimationThread {
 protected:
  ExitCode Body() override;
};

// Registers the factory behind StartProgressAnimation (patch/ProgressAnimation.h)
// that runs these threads.
void InstallProgressAnimationFactory();

}  // namespace NolkPatch
