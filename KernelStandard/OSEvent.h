// OS::Event: one unnamed system event, unsignalled at creation. Failures
// throw OSException with the messages below.
#pragma once

#include "KernelStandard/KernelObjects.h"

namespace OS {

class Event {
 public:
  // Throws "Failed to create the event".
  explicit Event(bool manualReset);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Throws "Failed to set the event".
  void Set();
  // Throws "Failed to reset the event".
  void Reset();
  // Waits without limit; throws "Failed to wait for the event".
  void Wait();
  // Sets the event (releasing its waiters), then closes it; throws "Failed
  // to set the event" or "Failed to close the event handle".
  void Close();

  const Handle& GetHandle() const { return m_handle; }

 private:
  Handle m_handle;
};

}  // namespace OS
