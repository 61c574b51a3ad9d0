// The summary's lock: re-entrant, because an operation that holds it calls
// others that take it again (RegisterFile -> RegisterSegment ->
// RestampSegments). A thin wrapper, so the kernel's critical section can
// take its place without touching the summary's code.
#pragma once

#include <mutex>

namespace NolkPatch {

class SummaryMutex {
 public:
  void Lock() { m_mutex.lock(); }
  void Unlock() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

class SummaryLock {
 public:
  explicit SummaryLock(SummaryMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
  ~SummaryLock() { m_mutex.Unlock(); }
  SummaryLock(const SummaryLock&) = delete;
  SummaryLock& operator=(const SummaryLock&) = delete;

 private:
  SummaryMutex& m_mutex;
};

}  // namespace NolkPatch
