// Vek::SyncObject: the base of the kernel's Vek-layer lock and wait
// objects (Vek::WEvent, Vek::CriticalSection, Vek::Thread). It holds a
// system handle (empty when none) and the one virtual interface they share:
// the handle, Lock (wait) with a time-out, Check and Unlock. Nothing in the
// Vek layer throws; failures are the boolean results.
#pragma once

#include "KernelStandard/KernelObjects.h"

namespace Vek {

class SyncObject {
 public:
  SyncObject() = default;
  explicit SyncObject(OS::Handle handle) : m_handle(std::move(handle)) {}
  // Closes the handle if any.
  virtual ~SyncObject() = default;
  SyncObject(const SyncObject&) = delete;
  SyncObject& operator=(const SyncObject&) = delete;

  virtual OS::Handle GetHandle() const { return m_handle; }
  // Waits on the handle: true when it was signalled within timeoutMs
  // (-1: no limit).
  virtual bool Lock(int timeoutMs = OS::INFINITE_WAIT);
  virtual bool Check() { return false; }
  virtual bool Unlock() { return false; }

 protected:
  OS::Handle m_handle;
};

}  // namespace Vek
