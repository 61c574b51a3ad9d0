// Vek::CriticalSection: a lock for threads of one process. Lock enters it
// (waiting as long as needed: the time-out is ignored) and Unlock leaves
// it; both return true. A thread may enter it again while it holds it, but
// every Lock must be paired with one Unlock on the same thread. Its system
// handle stays empty.
#pragma once

#include <memory>
#include <mutex>

#include "KernelStandard/SyncObject.h"

namespace Vek {

class CriticalSection : public SyncObject {
 public:
  CriticalSection() : m_section(std::make_unique<std::recursive_mutex>()) {}

  bool Lock(int timeoutMs = OS::INFINITE_WAIT) override;
  bool Unlock() override;

 private:
  std::unique_ptr<std::recursive_mutex> m_section;
};

// Holds a critical section for the lifetime of a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : m_section(section) { m_section.Lock(); }
  ~CriticalSectionLock() { m_section.Unlock(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& m_section;
};

}  // namespace Vek
