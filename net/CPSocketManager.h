// CPSocketManager: the process-wide completion port with its worker
// thread, which issues every socket call and handles every completion.
//
// There is one manager, reference-counted under one process-wide lock: the
// first AddRef creates it, the Release that brings the count to 0 destroys
// it. The application holds a reference for its whole run; every TCP data
// buffer, and every socket bound to the manager, holds one more.
//
// Only one worker thread is supported (the completion-port thread id that
// sockets compare with is a single process-wide value); every caller asks
// for 1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "KernelStandard/CriticalSection.h"
#include "KernelStandard/OSThread.h"
#include "net/IOCompletionPort.h"

class CPHandler;
class CPSocketManager;

// A worker: an OS::Thread running the worker loop, which takes packets
// from the manager's port until a quit packet arrives.
class CPWorkerThread : public OS::Thread {
 public:
  explicit CPWorkerThread(CPSocketManager& manager) : m_manager(manager) {}
  int Run() override;

 private:
  CPSocketManager& m_manager;
};

class CPSocketManager {
 public:
  // Takes a reference, creating the manager with workerCount workers when
  // there is none. Returns the manager.
  static CPSocketManager* AddRef(int workerCount);
  // Takes one more reference on the living manager; false when `manager`
  // is not it.
  static bool Retain(CPSocketManager* manager);
  // Drops a reference; the last one destroys the manager.
  static void Release();
  static int References();

  // The id of the thread running the worker loop; -1 when none runs.
  static std::int64_t CompletionThreadId();

  IOCompletionPort& Port() { return m_port; }
  // The number of workers that started.
  int WorkerCount();
  // Binds a handler to the port (records this manager in it).
  void Associate(CPHandler& handler);
  // Runs the work on the worker thread and waits for it; at once when
  // called on the worker itself, or when no worker runs.
  void RunOnWorker(const std::function<void()>& work);

 private:
  friend class CPWorkerThread;
  explicit CPSocketManager(int workerCount);
  ~CPSocketManager();
  void StartWorker();

  IOCompletionPort m_port;
  std::vector<std::unique_ptr<CPWorkerThread>> m_workers;
  int m_workerCount;
  Vek::CriticalSection m_lock;
};
