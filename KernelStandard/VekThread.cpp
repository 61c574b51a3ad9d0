#include "KernelStandard/VekThread.h"

#include <mutex>

#include "KernelStandard/AssertException.h"
#include "KernelStandard/FatalErrorGate.h"
#include "KernelStandard/alloc/ProcessLifetime.h"

namespace Vek {
namespace {

// The running count and the critical section it keeps alive change
// together under this lock, so a body that starts while the last other
// one ends never sees the section deleted under it.
std::mutex& BodyCountLock() {
  static auto* lock = Vek::NewForTheRun<std::mutex>();
  return *lock;
}
int g_runningBodies = 0;
CriticalSection* g_bodiesSection = nullptr;

void BodyStarted() {
  std::lock_guard lock(BodyCountLock());
  if (g_runningBodies++ == 0) g_bodiesSection = new CriticalSection;
}

void BodyEnded() {
  std::lock_guard lock(BodyCountLock());
  if (--g_runningBodies == 0) {
    delete g_bodiesSection;
    g_bodiesSection = nullptr;
  }
}

int RunGuarded(Thread::Body body, void* argument) {
  try {
    return body(argument);
  } catch (const AssertEx&) {
    return 0;
  } catch (const Exception& exception) {
    ReportEscapedException(exception);
    return 0;
  }
}

}  // namespace

int RunningThreadBodies() {
  std::lock_guard lock(BodyCountLock());
  return g_runningBodies;
}

CriticalSection* ThreadBodiesCriticalSection() {
  std::lock_guard lock(BodyCountLock());
  return g_bodiesSection;
}

Thread::Thread(Body body, void* argument, bool startNow)
    : m_stopEvent(false, false), m_body(body), m_argument(argument) {
  m_handle = OS::CreateThreadObject(0, &Thread::Entry, this, !startNow);
  if (!m_handle) {
    m_ownsThread = false;
    m_running.store(false);
  }
}

Thread::~Thread() {
  if (!m_ownsThread || !m_handle) return;
  m_stopEvent.Set();
  Resume();
  Lock(OS::INFINITE_WAIT);
  int exitCode = 0;
  GetExitCode(exitCode);
  m_handle.reset();
}

int Thread::Entry(void* self) {
  Thread& thread = *static_cast<Thread*>(self);
  if (FatalErrorGateIsSet()) {
    thread.m_running.store(false);
    return 0;
  }
  BodyStarted();
  const int result = RunGuarded(thread.m_body, thread.m_argument);
  BodyEnded();
  thread.m_running.store(false);
  return result;
}

bool Thread::Lock(int timeoutMs) {
  return SyncObject::Lock(timeoutMs);
}

bool Thread::Resume() {
  OS::ThreadObject* thread = OS::As<OS::ThreadObject>(m_handle);
  return thread != nullptr && thread->Resume() >= 0;
}

bool Thread::SetPriority(int priority) {
  OS::ThreadObject* thread = OS::As<OS::ThreadObject>(m_handle);
  return thread != nullptr && thread->SetPriority(priority);
}

bool Thread::GetExitCode(int& exitCode) const {
  OS::ThreadObject* thread = OS::As<OS::ThreadObject>(m_handle);
  if (thread == nullptr || !thread->HasEnded()) return false;
  exitCode = thread->ExitCode();
  return true;
}

}  // namespace Vek
