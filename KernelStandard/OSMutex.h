// OS::Mutex: one unnamed system mutex, not owned at creation, owned
// recursively by the thread that acquires it. OS::MutexLock acquires it for
// the lifetime of a scope. Failures throw OSException with the messages
// below.
#pragma once

#include "KernelStandard/KernelObjects.h"

namespace OS {

class Mutex {
 public:
  // Throws "Failed to create the mutex".
  Mutex();
  virtual ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Waits without limit; throws "Failed to acquire the mutex".
  void Acquire();
  // Throws "Failed to release the mutex", also when the calling thread does
  // not own the mutex.
  void Release();

 private:
  Handle m_handle;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : m_mutex(mutex) { m_mutex->Acquire(); }
  virtual ~MutexLock() { m_mutex->Release(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* m_mutex;
};

}  // namespace OS
