// The throwing wrappers of the thin system layer; see OSCalls.h.
#include "KernelStandard/OSCalls.h"

#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

[[noreturn]] void Fail(int error) {
  SetLastError(error);
  throw OSException();
}

template <typename Object>
Object& Require(const Handle& handle) {
  Object* object = As<Object>(handle);
  if (object == nullptr) Fail(ERROR_INVALID_HANDLE);
  return *object;
}

}  // namespace

Handle CreateThread(std::size_t stackSize, ThreadFunction function, void* argument) {
  Handle thread = CreateThreadObject(stackSize, function, argument, false);
  if (!thread) throw OSException();
  return thread;
}

std::uint32_t WaitForObject(const Handle& handle, int timeoutMs) {
  const std::uint32_t result = WaitForAny(&handle, 1, timeoutMs);
  if (result == WAIT_FAILED) throw OSException();
  return result;
}

std::uint32_t WaitForObjects(std::size_t count, const Handle* handles, int timeoutMs) {
  if (count > MAXIMUM_WAIT_OBJECTS) return WAIT_TIMEOUT;
  const std::uint32_t result = WaitForAny(handles, count, timeoutMs);
  if (result == WAIT_FAILED) throw OSException();
  return result;
}

bool ReleaseMutex(const Handle& mutex) {
  if (Require<MutexObject>(mutex).Release()) return true;
  if (GetLastError() == ERROR_NOT_OWNER) return false;
  throw OSException();
}

int JoinThread(Handle& thread) {
  ThreadObject& object = Require<ThreadObject>(thread);
  if (WaitForAny(&thread, 1, INFINITE_WAIT) == WAIT_FAILED)
    throw OSException("Error waiting for thread to finish!");
  const int exitCode = object.ExitCode();
  thread.reset();
  return exitCode;
}

int GetThreadPriority(const Handle& thread) {
  return Require<ThreadObject>(thread).Priority();
}

void SetThreadPriority(const Handle& thread, int priority) {
  if (!Require<ThreadObject>(thread).SetPriority(priority)) throw OSException();
}

void CloseHandle(Handle& handle) {
  if (!handle) Fail(ERROR_INVALID_HANDLE);
  handle.reset();
}

Handle CreateEvent(bool manualReset, bool initiallySignalled, const std::string& name) {
  Handle event = CreateEventObject(manualReset, initiallySignalled, name);
  if (!event) throw OSException();
  return event;
}

Handle OpenEvent(const std::string& name) {
  Handle event = OpenEventObject(name);
  if (!event) throw OSException();
  return event;
}

void SetEvent(const Handle& event) {
  Require<EventObject>(event).Set();
}

void ResetEvent(const Handle& event) {
  Require<EventObject>(event).Reset();
}

void PulseEvent(const Handle& event) {
  Require<EventObject>(event).Pulse();
}

Handle CreateWaitableTimer(bool manualReset) {
  return CreateTimerObject(manualReset);
}

void SetWaitableTimer(const Handle& timer, std::int64_t dueTime, std::int32_t periodMs) {
  if (!Require<TimerObject>(timer).Set(dueTime, periodMs)) throw OSException();
}

void CancelWaitableTimer(const Handle& timer) {
  Require<TimerObject>(timer).Cancel();
}

}  // namespace OS
