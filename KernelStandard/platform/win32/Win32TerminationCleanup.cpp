// Windows backend of TerminationCleanup.h: a console control handler
// (Ctrl-C, Ctrl-Break, console closed, log-off, shut-down) removes the
// registered files and then lets the event's default action end the
// process. The table is a fixed array guarded by atomic states, as the
// handler runs on a thread of its own while the program goes on.
#include <atomic>
#include <cstring>

#include "KernelStandard/platform/TerminationCleanup.h"
#include "KernelStandard/platform/win32/Win32Paths.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

enum PlaceState : int { kFree = 0, kFilling = 1, kArmed = 2 };

constexpr std::size_t kPathCapacity = 1024;

struct CleanupPlace {
  std::atomic<int> state{kFree};
  wchar_t path[kPathCapacity];
};

CleanupPlace g_places[kMaxTerminationCleanupFiles];

BOOL WINAPI OnTerminationEvent(DWORD controlType) {
  (void)controlType;
  for (CleanupPlace& place : g_places)
    if (place.state.load(std::memory_order_acquire) == kArmed) ::DeleteFileW(place.path);
  return FALSE;  // the next handler, finally the default one, ends the process
}

}  // namespace

bool InstallTerminationCleanup() {
  return ::SetConsoleCtrlHandler(OnTerminationEvent, TRUE) != FALSE;
}

int RegisterTerminationCleanupFile(const std::wstring& path) {
  const std::wstring native = Win32Paths::ToNative(path);
  if (native.empty() || native.size() >= kPathCapacity) return -1;
  for (int token = 0; token < kMaxTerminationCleanupFiles; ++token) {
    CleanupPlace& place = g_places[token];
    int expected = kFree;
    if (!place.state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) continue;
    std::memcpy(place.path, native.c_str(), (native.size() + 1) * sizeof(wchar_t));
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
