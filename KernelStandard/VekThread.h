// Vek::Thread: a kernel thread running a body function (one pointer in,
// an integer out) under the guarded thread entry, with a stop event the
// body watches.
//
// Lifecycle: constructed (suspended unless started at once) -> Resume ->
// body runs -> body returns (the running flag is cleared, the thread
// handle is signalled) -> destroyed: the destructor sets the stop event,
// resumes a thread that was never resumed, and waits for it without limit.
// A body must therefore return once the stop event (GetHandle) is set.
//
// The guarded entry: after the user has accepted a fatal error (the gate of
// FatalErrorGate.h) bodies no longer run and their threads end with 0. A
// Vek::AssertEx that ends a body is swallowed; any other Vek::Exception is
// shown in the fatal-error window; in both cases the exit code is 0. A
// processor fault in a body (a signal on POSIX) is not caught here: it
// reaches the process-wide fatal-fault handling, as a fault the exception
// report did not handle does.
#pragma once

#include <atomic>

#include "KernelStandard/CriticalSection.h"
#include "KernelStandard/WEvent.h"

namespace Vek {

class Thread : public SyncObject {
 public:
  using Body = int (*)(void* argument);

  Thread(Body body, void* argument, bool startNow);
  ~Thread() override;

  // The stop event's handle, for the body's waits.
  OS::Handle GetHandle() const override { return m_stopEvent.GetHandle(); }
  // Waits on the thread: true when it has ended within timeoutMs.
  bool Lock(int timeoutMs = OS::INFINITE_WAIT) override;

  bool IsValid() const { return m_handle != nullptr; }
  // True unless the system refuses.
  bool Resume();
  bool SetPriority(int priority);
  // Sets the stop event (the destructor does it too).
  bool RequestStop() { return m_stopEvent.Set(); }
  // Whether the body is still to run or running.
  bool IsRunning() const { return m_running.load(); }
  // The exit code once the thread has ended; false before.
  bool GetExitCode(int& exitCode) const;

 private:
  static int Entry(void* self);

  WEvent m_stopEvent;
  bool m_ownsThread = true;
  std::atomic<bool> m_running{true};
  Body m_body;
  void* m_argument;
};

// The number of Vek::Thread bodies running now.
int RunningThreadBodies();
// The critical section the fatal-error window uses while it is shown; it
// exists while at least one body runs (null otherwise), so it may only be
// used from inside a running body.
CriticalSection* ThreadBodiesCriticalSection();

}  // namespace Vek
