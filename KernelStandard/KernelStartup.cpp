#include "KernelStandard/KernelStartup.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <mutex>

#include "KernelStandard/Assert.h"
#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/alloc/ProcessLifetime.h"

namespace Vek {
namespace {

std::atomic<std::uint32_t> g_mainThreadId{0};
std::atomic<StringPool*> g_stringPool{nullptr};

std::mutex& ShutdownLock() {
  static auto* lock = Vek::NewForTheRun<std::mutex>();
  return *lock;
}
void (*g_shutdownCallbacks[kMaxShutdownCallbacks])() = {};
int g_shutdownCallbackCount = 0;

void KernelShutdown() {
  delete g_stringPool.exchange(nullptr);
}

void RunShutdownCallbacksAtExit() {
  RunShutdownCallbacks();
}

}  // namespace

std::uint32_t MainThreadId() {
  return g_mainThreadId.load();
}

StringPool* KernelStringPool() {
  return g_stringPool.load();
}

void RegisterShutdownCallback(void (*callback)()) {
  std::lock_guard lock(ShutdownLock());
  VEK_ASSERT(g_shutdownCallbackCount < kMaxShutdownCallbacks);
  g_shutdownCallbacks[g_shutdownCallbackCount++] = callback;
}

void RunShutdownCallbacks() {
  while (true) {
    void (*callback)() = nullptr;
    {
      std::lock_guard lock(ShutdownLock());
      if (g_shutdownCallbackCount == 0) return;
      callback = g_shutdownCallbacks[--g_shutdownCallbackCount];
    }
    if (callback != nullptr) callback();
  }
}

}  // namespace Vek

void KernelStartup() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::setlocale(LC_CTYPE, "");
    Vek::g_mainThreadId.store(OS::CurrentThreadId());
    Vek::g_stringPool.store(new Vek::StringPool);
    Vek::RegisterShutdownCallback(&Vek::KernelShutdown);
    std::atexit(&Vek::RunShutdownCallbacksAtExit);
  });
}
