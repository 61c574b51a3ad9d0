#include "net/CPSocketManager.h"

#include <atomic>

#include "KernelStandard/Assert.h"
#include "KernelStandard/WEvent.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "net/CPHandler.h"

namespace {

Vek::CriticalSection& ReferenceLock() {
  static auto* lock = Vek::NewForTheRun<Vek::CriticalSection>();
  return *lock;
}
int g_references = 0;
CPSocketManager* g_manager = nullptr;

std::atomic<std::int64_t> g_completionThreadId{-1};

}  // namespace

int CPWorkerThread::Run() {
  g_completionThreadId.store(OS::CurrentThreadId());
  while (m_manager.Port().HandleNextPacket()) {
  }
  g_completionThreadId.store(-1);
  return 0;
}

CPSocketManager* CPSocketManager::AddRef(int workerCount) {
  Vek::CriticalSectionLock lock(ReferenceLock());
  if (g_references++ == 0) g_manager = new CPSocketManager(workerCount);
  return g_manager;
}

bool CPSocketManager::Retain(CPSocketManager* manager) {
  Vek::CriticalSectionLock lock(ReferenceLock());
  if (manager == nullptr || manager != g_manager) return false;
  ++g_references;
  return true;
}

void CPSocketManager::Release() {
  Vek::CriticalSectionLock lock(ReferenceLock());
  if (g_references == 0) return;
  if (--g_references == 0) {
    delete g_manager;
    g_manager = nullptr;
  }
}

int CPSocketManager::References() {
  Vek::CriticalSectionLock lock(ReferenceLock());
  return g_references;
}

std::int64_t CPSocketManager::CompletionThreadId() {
  return g_completionThreadId.load();
}

CPSocketManager::CPSocketManager(int workerCount) : m_port(workerCount), m_workerCount(workerCount) {
  Vek::Assert(workerCount == 1, "workerCount == 1");
  for (int i = 0; i < workerCount; ++i) StartWorker();
}

// A worker that could not be started is deleted again; construction goes on
// without it. (A thread that never started takes no quit packet, so none is
// posted for it: it would stay queued for the next worker.)
void CPSocketManager::StartWorker() {
  auto worker = std::make_unique<CPWorkerThread>(*this);
  if (!worker->Start()) return;
  Vek::CriticalSectionLock lock(m_lock);
  m_workers.push_back(std::move(worker));
}

CPSocketManager::~CPSocketManager() {
  std::vector<std::unique_ptr<CPWorkerThread>> workers;
  {
    Vek::CriticalSectionLock lock(m_lock);
    workers.swap(m_workers);
  }
  for (std::size_t i = 0; i < workers.size(); ++i) m_port.PostQuit();
  for (auto& worker : workers) {
    m_port.PostQuit();
    worker->Wait();
    worker.reset();
  }
}

int CPSocketManager::WorkerCount() {
  Vek::CriticalSectionLock lock(m_lock);
  return static_cast<int>(m_workers.size());
}

void CPSocketManager::Associate(CPHandler& handler) {
  Vek::CriticalSectionLock lock(m_lock);
  handler.SetManager(this);
}

void CPSocketManager::RunOnWorker(const std::function<void()>& work) {
  const std::int64_t worker = g_completionThreadId.load();
  if (worker == static_cast<std::int64_t>(OS::CurrentThreadId()) || WorkerCount() == 0) {
    work();
    return;
  }
  Vek::WEvent done(true, false);
  m_port.PostWork([&work, &done] {
    work();
    done.Set();
  });
  done.Lock(OS::INFINITE_WAIT);
}
