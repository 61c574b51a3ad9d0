#include "KernelStandard/OSEvent.h"

#include "KernelStandard/OSCalls.h"

namespace OS {

Event::Event(bool manualReset) {
  try {
    m_handle = CreateEvent(manualReset, false);
  } catch (const OSException&) {
    throw OSException("Failed to create the event");
  }
}

void Event::Set() {
  try {
    SetEvent(m_handle);
  } catch (const OSException&) {
    throw OSException("Failed to set the event");
  }
}

void Event::Reset() {
  try {
    ResetEvent(m_handle);
  } catch (const OSException&) {
    throw OSException("Failed to reset the event");
  }
}

void Event::Wait() {
  try {
    if (WaitForObject(m_handle, INFINITE_WAIT) == WAIT_OBJECT_0) return;
  } catch (const OSException&) {
  }
  throw OSException("Failed to wait for the event");
}

void Event::Close() {
  Set();
  try {
    CloseHandle(m_handle);
  } catch (const OSException&) {
    throw OSException("Failed to close the event handle");
  }
}

}  // namespace OS
