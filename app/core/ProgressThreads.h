// Worker thread base and the two threads that only move the progress bar
// during long external steps.
#pragma once

#include <wx/thread.h>

#include <atomic>

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

// While a patch archive is unpacked: fills the bar to half within the
// expected minutes in 500 ms steps, then waits there.
class OADHackProgressThread : public wxGuardedThread {
 public:
  explicit OADHackProgressThread(int minutes) : m_minutes(minutes) {}
  std::atomic<unsigned char> m_running{0};  // set to 1 by the creator before Run()

 protected:
  ExitCode Body() override;

 private:
  int m_minutes;
};

// While the asset database is rebuilt: from half to full over at most ten
// minutes in 500 ms steps, then full.
class OADRepairProgressThread : public wxGuardedThread {
 public:
  std::atomic<unsigned char> m_running{0};  // set to 1 by the creator before Run()

 protected:
  ExitCode Body() override;
};

// Registers the factory behind StartProgressAnimation (patch/ProgressAnimation.h)
// that runs these threads.
void InstallProgressAnimationFactory();

}  // namespace NolkPatch
