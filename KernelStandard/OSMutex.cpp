#include "KernelStandard/OSMutex.h"

#include "KernelStandard/OSCalls.h"

namespace OS {

Mutex::Mutex() : m_handle(CreateMutexObject(false)) {
  if (!m_handle) throw OSException("Failed to create the mutex");
}

// Closing a handle cannot fail here (it only drops a reference), so the
// destructor has no failure to report.
Mutex::~Mutex() = default;

void Mutex::Acquire() {
  try {
    if (WaitForObject(m_handle, INFINITE_WAIT) == WAIT_OBJECT_0) return;
  } catch (const OSException&) {
  }
  throw OSException("Failed to acquire the mutex");
}

void Mutex::Release() {
  bool released = false;
  try {
    released = ReleaseMutex(m_handle);
  } catch (const OSException&) {
  }
  if (!released) throw OSException("Failed to release the mutex");
}

}  // namespace OS
