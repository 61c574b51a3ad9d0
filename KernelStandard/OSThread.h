// OS::Thread: a thread object with a virtual body. Start runs Run() (or a
// given function) on a new thread; Wait joins it and yields its exit code.
// A thread must have ended before it is started again or destroyed; both
// are checked by assertions.
#pragma once

#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/platform/SystemNames.h"

namespace OS {

class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The body; the base class does nothing and returns 0.
  virtual int Run() { return 0; }

  // Starts Run() on a new thread; true when a thread was started.
  bool Start();
  // Starts function(argument) instead of Run().
  bool Start(ThreadFunction function, void* argument);
  // Waits without limit; 0 when no thread was started, else the exit code
  // (STILL_ACTIVE when it cannot be read).
  int Wait();

  const Handle& GetHandle() const { return m_threadhandle; }

 private:
  static int RunBody(void* self);
  void CloseFinishedThread();

  Handle m_threadhandle;  // empty: no thread
};

}  // namespace OS
