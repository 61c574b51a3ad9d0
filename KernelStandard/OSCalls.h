// The thin system layer's free wrappers over threads, waits, events,
// mutexes and waitable timers (KernelObjects.h). Unlike the objects below
// them they do not return failure codes: a failing call throws OSException
// with an empty message (the system's error stays the thread's last error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/OSException.h"
#include "KernelStandard/platform/SystemNames.h"

namespace OS {

// Starts a thread (running at once) that calls function(argument); the
// thread's exit code is the function's result.
Handle CreateThread(std::size_t stackSize, ThreadFunction function, void* argument);
// Waits for one object; returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
std::uint32_t WaitForObject(const Handle& handle, int timeoutMs);
// Waits for any of the objects. More than MAXIMUM_WAIT_OBJECTS handles
// return WAIT_TIMEOUT at once without waiting.
std::uint32_t WaitForObjects(std::size_t count, const Handle* handles, int timeoutMs);
// False when the calling thread does not own the mutex (ERROR_NOT_OWNER);
// throws for any other failure (an empty handle, a handle that is not a
// mutex).
bool ReleaseMutex(const Handle& mutex);
// Waits for the thread without limit, reads its exit code and closes the
// handle. A failed wait throws "Error waiting for thread to finish!".
int JoinThread(Handle& thread);

int GetThreadPriority(const Handle& thread);
void SetThreadPriority(const Handle& thread, int priority);
// Closes the handle (the object lives on while other handles refer to it).
void CloseHandle(Handle& handle);

Handle CreateEvent(bool manualReset, bool initiallySignalled, const std::string& name = {});
// Opens an existing named event (with full access; there is no handle
// inheritance between processes here, so that request has no effect).
Handle OpenEvent(const std::string& name);
void SetEvent(const Handle& event);
void ResetEvent(const Handle& event);
void PulseEvent(const Handle& event);

// Waitable timers. The due time is absolute when positive (milliseconds of
// SteadyMilliseconds()) and relative when zero or negative; periodMs 0
// fires once. Windows lets a timer wake a suspended system; no timer of
// this program needs that, so it is not offered.
Handle CreateWaitableTimer(bool manualReset);
void SetWaitableTimer(const Handle& timer, std::int64_t dueTime, std::int32_t periodMs);
void CancelWaitableTimer(const Handle& timer);

// The system's message text for a system error code (Windows codes, as
// kept by GetLastError), at most 512 characters; for a code without text,
// the text of ERROR_MR_MID_NOT_FOUND (317), as the system's own lookup
// reports its failure.
std::string FormatSystemError(int code);

}  // namespace OS
