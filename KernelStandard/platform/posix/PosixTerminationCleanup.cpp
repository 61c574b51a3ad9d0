// POSIX backend of TerminationCleanup.h. The table of paths is a fixed array
// of native paths, each guarded by an atomic state, so the signal handler
// reads it without locks or allocation: a place is filled while "filling"
// and only armed once its path is complete.
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/TerminationCleanup.h"

namespace OS {
namespace {

enum PlaceState : int { kFree = 0, kFilling = 1, kArmed = 2 };

struct CleanupPlace {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

CleanupPlace g_places[kMaxTerminationCleanupFiles];

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveArmedFiles() {
  for (CleanupPlace& place : g_places)
    if (place.state.load(std::memory_order_acquire) == kArmed) ::unlink(place.path);
}

// The signal is blocked while its handler runs, so the raise takes effect on
// return, with the default action restored: the process ends by the signal.
void OnTerminationSignal(int signalNumber) {
  RemoveArmedFiles();
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

}  // namespace

bool InstallTerminationCleanup() {
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kTerminationSignals) sigaddset(&action.sa_mask, signalNumber);
  for (int signalNumber : kTerminationSignals)
    if (::sigaction(signalNumber, &action, nullptr) != 0) return false;
  return true;
}

int RegisterTerminationCleanupFile(const std::wstring& path) {
  const std::string native = Current().NativePath(path);
  if (native.empty() || native.size() >= PATH_MAX) return -1;
  for (int token = 0; token < kMaxTerminationCleanupFiles; ++token) {
    CleanupPlace& place = g_places[token];
    int expected = kFree;
    if (!place.state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) continue;
    std::memcpy(place.path, native.c_str(), native.size() + 1);
    place.state.store(kArmed, std::memory_order_release);
    return token;
  }
  return -1;
}

void UnregisterTerminationCleanupFile(int token) {
  if (token < 0 || token >= kMaxTerminationCleanupFiles) return;
  g_places[token].state.store(kFree, std::memory_order_release);
}

}  // namespace OS
