// Waitable kernel objects; see KernelObjects.h.
#include "KernelStandard/KernelObjects.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"

namespace OS {

// One waiting thread: the condition variable it sleeps on and the objects
// it waits for. A pulse records which of them released it.
struct Waiter {
  std::condition_variable wake;
  const Handle* handles = nullptr;
  std::size_t count = 0;
  std::size_t pulsedIndex = kNotPulsed;
  static constexpr std::size_t kNotPulsed = static_cast<std::size_t>(-1);

  std::size_t IndexOf(const KernelObject* object) const {
    for (std::size_t i = 0; i < count; ++i)
      if (handles[i].get() == object) return i;
    return kNotPulsed;
  }
};

namespace {

using Clock = std::chrono::steady_clock;

// The one lock of all kernel objects. Never destroyed, so detached threads
// still waiting while the process exits do not touch a dead mutex.
std::mutex& ObjectLock() {
  static auto* lock = Vek::NewForTheRun<std::mutex>();
  return *lock;
}

std::map<std::string, std::weak_ptr<KernelObject>>& EventNames() {
  static auto* names = Vek::NewForTheRun<std::map<std::string, std::weak_ptr<KernelObject>>>();
  return *names;
}

void Register(Waiter& waiter, std::vector<Waiter*>& list) {
  list.push_back(&waiter);
}

void Unregister(Waiter& waiter, std::vector<Waiter*>& list) {
  list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
}

}  // namespace

std::uint32_t CurrentThreadId() {
  thread_local const std::uint32_t id = Current().ThreadId();
  return id;
}

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// --- KernelObject ------------------------------------------------------------

KernelObject::~KernelObject() = default;

void KernelObject::NotifyWaitersLocked() {
  for (Waiter* waiter : m_waiters) waiter->wake.notify_one();
}

// --- Events ------------------------------------------------------------------

EventObject::EventObject(bool manualReset, bool initiallySignalled)
    : m_manualReset(manualReset), m_signalled(initiallySignalled) {}

bool EventObject::Set() {
  std::lock_guard lock(ObjectLock());
  m_signalled = true;
  NotifyWaitersLocked();
  return true;
}

bool EventObject::Reset() {
  std::lock_guard lock(ObjectLock());
  m_signalled = false;
  return true;
}

bool EventObject::Pulse() {
  std::lock_guard lock(ObjectLock());
  for (Waiter* waiter : m_waiters) {
    if (waiter->pulsedIndex != Waiter::kNotPulsed) continue;
    waiter->pulsedIndex = waiter->IndexOf(this);
    waiter->wake.notify_one();
    if (!m_manualReset) break;
  }
  m_signalled = false;
  return true;
}

bool EventObject::TryAcquireLocked(std::uint32_t) {
  if (!m_signalled) return false;
  if (!m_manualReset) m_signalled = false;
  return true;
}

// --- Mutexes -----------------------------------------------------------------

MutexObject::MutexObject(bool initiallyOwned) {
  if (initiallyOwned) {
    m_owner = CurrentThreadId();
    m_recursion = 1;
  }
}

bool MutexObject::Release() {
  const std::uint32_t caller = CurrentThreadId();
  std::lock_guard lock(ObjectLock());
  if (m_owner != caller || m_recursion == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return false;
  }
  if (--m_recursion == 0) {
    m_owner = 0;
    NotifyWaitersLocked();
  }
  return true;
}

bool MutexObject::TryAcquireLocked(std::uint32_t threadId) {
  if (m_owner != 0 && m_owner != threadId) return false;
  m_owner = threadId;
  ++m_recursion;
  return true;
}

// --- Threads -----------------------------------------------------------------

namespace {

// Keeps the thread object alive while its thread runs.
struct ThreadStart {
  std::shared_ptr<ThreadObject> object;
};

}  // namespace

ThreadObject::ThreadObject(ThreadFunction function, void* argument, bool suspended)
    : m_function(function), m_argument(argument), m_suspendCount(suspended ? 1 : 0) {}

int ThreadObject::Resume() {
  std::lock_guard lock(ObjectLock());
  const int previous = m_suspendCount;
  if (m_suspendCount > 0 && --m_suspendCount == 0) m_resumed.notify_all();
  return previous;
}

int ThreadObject::ExitCode() const {
  std::lock_guard lock(ObjectLock());
  return m_exitCode;
}

bool ThreadObject::HasEnded() const {
  std::lock_guard lock(ObjectLock());
  return m_ended;
}

std::uint32_t ThreadObject::ThreadId() const {
  std::lock_guard lock(ObjectLock());
  return m_threadId;
}

bool ThreadObject::SetPriority(int priority) {
  std::unique_lock lock(ObjectLock());
  if (m_threadId == 0) {
    m_priority = priority;
    m_priorityPending = true;
    return true;
  }
  const std::uint32_t threadId = m_threadId;
  lock.unlock();
  if (!Current().SetThreadPriority(threadId, priority)) return false;
  lock.lock();
  m_priority = priority;
  return true;
}

int ThreadObject::Priority() const {
  std::lock_guard lock(ObjectLock());
  return m_priority;
}

void ThreadObject::Trampoline(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  start->object->Run();
}

void ThreadObject::Run() {
  bool applyPriority = false;
  int priority = 0;
  {
    std::unique_lock lock(ObjectLock());
    m_threadId = CurrentThreadId();
    m_resumed.wait(lock, [this] { return m_suspendCount == 0; });
    applyPriority = m_priorityPending;
    priority = m_priority;
    m_priorityPending = false;
  }
  // A level the system refuses leaves the thread at the normal level, as
  // if the request had never been made.
  if (applyPriority && !Current().SetThreadPriority(m_threadId, priority)) {
    std::lock_guard lock(ObjectLock());
    m_priority = 0;
  }
  const int exitCode = m_function(m_argument);
  std::lock_guard lock(ObjectLock());
  m_exitCode = exitCode;
  m_ended = true;
  NotifyWaitersLocked();
}

bool ThreadObject::TryAcquireLocked(std::uint32_t) {
  return m_ended;
}

Handle CreateThreadObject(std::size_t stackSize, ThreadFunction function, void* argument, bool suspended) {
  auto object = std::make_shared<ThreadObject>(function, argument, suspended);
  auto* start = new ThreadStart{object};
  if (!Current().StartThread(&ThreadObject::Trampoline, start, stackSize)) {
    delete start;
    return nullptr;
  }
  return object;
}

// --- Timers ------------------------------------------------------------------

TimerObject::TimerObject(bool manualReset) : m_manualReset(manualReset) {}

bool TimerObject::Set(std::int64_t dueTime, std::int32_t periodMs) {
  if (periodMs < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::lock_guard lock(ObjectLock());
  const Clock::time_point due = dueTime > 0 ? Clock::time_point(std::chrono::milliseconds(dueTime))
                                            : Clock::now() + std::chrono::milliseconds(-dueTime);
  m_due = due;
  m_period = std::chrono::milliseconds(periodMs);
  m_active = true;
  m_signalled = false;
  NotifyWaitersLocked();  // their wake-up times change
  return true;
}

bool TimerObject::Cancel() {
  std::lock_guard lock(ObjectLock());
  m_active = false;
  return true;
}

bool TimerObject::TryAcquireLocked(std::uint32_t) {
  if (m_active && Clock::now() >= m_due) {
    if (m_period.count() > 0) {
      while (m_due <= Clock::now()) m_due += m_period;
    } else {
      m_active = false;
    }
    if (m_manualReset) m_signalled = true;
    return true;
  }
  return m_manualReset && m_signalled;
}

Clock::time_point TimerObject::WakeTimeLocked() const {
  return m_active ? m_due : Clock::time_point::max();
}

// --- Creation ----------------------------------------------------------------

Handle CreateEventObject(bool manualReset, bool initiallySignalled, const std::string& name) {
  if (name.empty()) return std::make_shared<EventObject>(manualReset, initiallySignalled);
  std::lock_guard lock(ObjectLock());
  auto& names = EventNames();
  if (Handle existing = names[name].lock()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return existing;
  }
  Handle event = std::make_shared<EventObject>(manualReset, initiallySignalled);
  names[name] = event;
  SetLastError(ERROR_SUCCESS);
  return event;
}

Handle OpenEventObject(const std::string& name) {
  std::lock_guard lock(ObjectLock());
  auto& names = EventNames();
  const auto found = names.find(name);
  Handle existing = found != names.end() ? found->second.lock() : nullptr;
  if (!existing) SetLastError(ERROR_FILE_NOT_FOUND);
  return existing;
}

Handle CreateMutexObject(bool initiallyOwned) {
  return std::make_shared<MutexObject>(initiallyOwned);
}

Handle CreateTimerObject(bool manualReset) {
  return std::make_shared<TimerObject>(manualReset);
}

// --- Waiting -----------------------------------------------------------------

std::uint32_t WaitForAny(const Handle* handles, std::size_t count, int timeoutMs) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!handles[i]) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  const std::uint32_t self = CurrentThreadId();
  const Clock::time_point deadline =
      timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
  Waiter waiter;
  waiter.handles = handles;
  waiter.count = count;
  bool registered = false;
  std::unique_lock lock(ObjectLock());
  std::uint32_t result = WAIT_TIMEOUT;
  while (true) {
    if (waiter.pulsedIndex != Waiter::kNotPulsed) {
      result = WAIT_OBJECT_0 + static_cast<std::uint32_t>(waiter.pulsedIndex);
      break;
    }
    Clock::time_point wake = deadline;
    bool acquired = false;
    for (std::size_t i = 0; i < count && !acquired; ++i) {
      if (handles[i]->TryAcquireLocked(self)) {
        result = WAIT_OBJECT_0 + static_cast<std::uint32_t>(i);
        acquired = true;
      }
      wake = std::min(wake, handles[i]->WakeTimeLocked());
    }
    if (acquired || Clock::now() >= deadline) break;
    if (!registered) {
      for (std::size_t i = 0; i < count; ++i) Register(waiter, handles[i]->m_waiters);
      registered = true;
    }
    if (wake == Clock::time_point::max())
      waiter.wake.wait(lock);
    else
      waiter.wake.wait_until(lock, wake);
  }
  if (registered)
    for (std::size_t i = 0; i < count; ++i) Unregister(waiter, handles[i]->m_waiters);
  return result;
}

}  // namespace OS
