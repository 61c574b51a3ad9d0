// Waitable kernel objects: events, mutexes, threads and waitable timers,
// with the wait-for-any semantics of Windows kernel objects, built on the
// C++ library's mutex and condition variables (portable to every platform;
// only starting a native thread goes through the platform layer).
//
// A handle is a shared pointer: copying it duplicates the handle, resetting
// it closes it, and the object lives while any handle (or, for a thread,
// the running thread itself) refers to it. An empty handle is the invalid
// handle.
//
// All objects share one process-wide lock; every waiting thread has its own
// condition variable, registered with the objects it waits for, so a signal
// wakes only the threads that wait for that object.
//
// Names: an event may be created with a name; a second creation with the
// same name opens the same event. Names are shared within the process only
// (nothing in this program shares events between processes).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KernelStandard/platform/SystemNames.h"

namespace OS {

class KernelObject;
using Handle = std::shared_ptr<KernelObject>;

// Wait results, as on Windows.
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;
// No time limit, for the millisecond time-outs of waits.
constexpr int INFINITE_WAIT = -1;
// The most handles one wait takes.
constexpr std::size_t MAXIMUM_WAIT_OBJECTS = 64;
// The exit code of a thread that has not ended.
constexpr int STILL_ACTIVE = 259;

// A thread function: one pointer in, the exit code out.
using ThreadFunction = int (*)(void* argument);

struct Waiter;

class KernelObject {
 public:
  virtual ~KernelObject();
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

 protected:
  KernelObject() = default;
  // Wakes the threads waiting for this object. Caller holds the lock.
  void NotifyWaitersLocked();

 private:
  friend std::uint32_t WaitForAny(const Handle* handles, std::size_t count, int timeoutMs);
  friend class EventObject;
  // Whether a wait by the thread is satisfied now; a satisfied wait takes
  // what it consumes (an auto-reset signal, mutex ownership). Caller holds
  // the lock.
  virtual bool TryAcquireLocked(std::uint32_t threadId) = 0;
  // When the object will become signalled by itself (timers); max() when
  // never. Caller holds the lock.
  virtual std::chrono::steady_clock::time_point WakeTimeLocked() const {
    return std::chrono::steady_clock::time_point::max();
  }

  std::vector<Waiter*> m_waiters;
};

class EventObject final : public KernelObject {
 public:
  EventObject(bool manualReset, bool initiallySignalled);
  bool Set();
  bool Reset();
  // Releases the threads waiting now (all of them for a manual-reset event,
  // one for an auto-reset event) and leaves the event unsignalled.
  bool Pulse();

 private:
  bool TryAcquireLocked(std::uint32_t threadId) override;
  bool m_manualReset;
  bool m_signalled;
};

// A mutex owned by one thread at a time, recursively.
class MutexObject final : public KernelObject {
 public:
  explicit MutexObject(bool initiallyOwned);
  // False with ERROR_NOT_OWNER when the calling thread does not own it.
  bool Release();

 private:
  bool TryAcquireLocked(std::uint32_t threadId) override;
  std::uint32_t m_owner = 0;  // thread id; 0 when free
  int m_recursion = 0;
};

// A thread started by CreateThreadObject; signalled when its function has
// returned.
class ThreadObject final : public KernelObject {
 public:
  ThreadObject(ThreadFunction function, void* argument, bool suspended);
  // Lets a suspended thread run. Returns the previous suspend count (0 when
  // it was running already).
  int Resume();
  // STILL_ACTIVE until the function has returned, then its result.
  int ExitCode() const;
  bool HasEnded() const;
  // The native thread id once the thread runs (0 before).
  std::uint32_t ThreadId() const;
  // Applies now when the thread runs, else as soon as it starts.
  bool SetPriority(int priority);
  int Priority() const;

 private:
  friend Handle CreateThreadObject(std::size_t, ThreadFunction, void*, bool);
  static void Trampoline(void* block);
  void Run();
  bool TryAcquireLocked(std::uint32_t threadId) override;

  ThreadFunction m_function;
  void* m_argument;
  int m_suspendCount;
  bool m_ended = false;
  int m_exitCode = STILL_ACTIVE;
  std::uint32_t m_threadId = 0;
  int m_priority = 0;
  bool m_priorityPending = false;
  std::condition_variable m_resumed;
};

// A waitable timer: signalled from its due time on. A manual-reset timer
// stays signalled until it is set again or cancelled; an auto-reset timer
// releases one wait per expiry. With a period it expires again every period.
class TimerObject final : public KernelObject {
 public:
  explicit TimerObject(bool manualReset);
  // dueTime > 0: absolute, in milliseconds of the steady clock's epoch
  // (SteadyMilliseconds()); dueTime <= 0: relative, -dueTime milliseconds
  // from now. periodMs 0 fires once.
  bool Set(std::int64_t dueTime, std::int32_t periodMs);
  bool Cancel();

 private:
  bool TryAcquireLocked(std::uint32_t threadId) override;
  std::chrono::steady_clock::time_point WakeTimeLocked() const override;
  bool m_manualReset;
  bool m_active = false;
  bool m_signalled = false;
  std::chrono::steady_clock::time_point m_due;
  std::chrono::milliseconds m_period{0};
};

// The steady clock's reading in milliseconds (for absolute timer times).
std::int64_t SteadyMilliseconds();

// Creates an event; with a name, an existing event of that name is
// returned instead (the last error is then ERROR_ALREADY_EXISTS).
Handle CreateEventObject(bool manualReset, bool initiallySignalled, const std::string& name = {});
// The living event of that name; empty with ERROR_FILE_NOT_FOUND.
Handle OpenEventObject(const std::string& name);
Handle CreateMutexObject(bool initiallyOwned);
Handle CreateTimerObject(bool manualReset);
// Starts a thread running function(argument) through the platform layer;
// suspended threads wait for Resume before they call the function. Empty
// (with the platform's last error) when no thread could be started.
Handle CreateThreadObject(std::size_t stackSize, ThreadFunction function, void* argument, bool suspended);

// Waits until one of the objects is signalled (the lowest index wins) and
// returns WAIT_OBJECT_0 + its index, or WAIT_TIMEOUT after timeoutMs
// (INFINITE_WAIT: no limit). WAIT_FAILED with ERROR_INVALID_HANDLE for an
// empty handle, ERROR_INVALID_PARAMETER for no handles or more than
// MAXIMUM_WAIT_OBJECTS.
std::uint32_t WaitForAny(const Handle* handles, std::size_t count, int timeoutMs);

template <typename Object>
Object* As(const Handle& handle) {
  return dynamic_cast<Object*>(handle.get());
}

// The calling thread's id, read once per thread from the platform layer.
std::uint32_t CurrentThreadId();

}  // namespace OS
