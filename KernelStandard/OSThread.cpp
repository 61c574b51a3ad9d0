#include "KernelStandard/OSThread.h"

#include "KernelStandard/Assert.h"
#include "KernelStandard/OSCalls.h"

namespace OS {

Thread::~Thread() {
  CloseFinishedThread();
}

void Thread::CloseFinishedThread() {
  if (!m_threadhandle) return;
  Vek::Assert(WaitForAny(&m_threadhandle, 1, 0) == WAIT_OBJECT_0,
              "WaitForSingleObject(m_threadhandle, 0) == WAIT_OBJECT_0");
  m_threadhandle.reset();
}

int Thread::RunBody(void* self) {
  return static_cast<Thread*>(self)->Run();
}

bool Thread::Start() {
  return Start(&Thread::RunBody, this);
}

bool Thread::Start(ThreadFunction function, void* argument) {
  CloseFinishedThread();
  try {
    m_threadhandle = CreateThread(0, function, argument);
  } catch (const OSException&) {
    m_threadhandle.reset();
  }
  return m_threadhandle != nullptr;
}

int Thread::Wait() {
  if (!m_threadhandle) return 0;
  if (WaitForAny(&m_threadhandle, 1, INFINITE_WAIT) == WAIT_FAILED) return STILL_ACTIVE;
  ThreadObject* thread = As<ThreadObject>(m_threadhandle);
  return thread != nullptr ? thread->ExitCode() : STILL_ACTIVE;
}

}  // namespace OS
