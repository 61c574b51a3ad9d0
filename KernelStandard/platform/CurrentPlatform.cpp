// The process-wide platform pointer. The first use creates the native
// backend and, when KORVEL_FAULTS is set, wraps it in a fault injector with
// the rules from that variable (so child programs of a test fail the same
// way). Install() swaps the pointer for tests; nullptr restores the start-up
// platform.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "KernelStandard/platform/FaultInjectingPlatform.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

std::atomic<Platform*> g_current{nullptr};
Platform* g_startup = nullptr;
std::once_flag g_startupOnce;

Platform* CreateStartupPlatform() {
  Platform& native = Native();
  const char* faults = std::getenv("KORVEL_FAULTS");
  if (faults == nullptr || *faults == '\0') return &native;
  static std::unique_ptr<FaultInjectingPlatform> injector =
      MakeFaultInjector(native, ParseFaultRules(faults));
  return injector.get();
}

void EnsureStartup() {
  std::call_once(g_startupOnce, [] {
    g_startup = CreateStartupPlatform();
    Platform* expected = nullptr;
    g_current.compare_exchange_strong(expected, g_startup);
  });
}

}  // namespace

Platform& Current() {
  EnsureStartup();
  return *g_current.load(std::memory_order_acquire);
}

Platform* Install(Platform* platform) {
  EnsureStartup();
  return g_current.exchange(platform != nullptr ? platform : g_startup, std::memory_order_acq_rel);
}

}  // namespace OS
