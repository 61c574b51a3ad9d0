#include "app/cli/ConsoleJobHost.h"

#include <atomic>
#include <chrono>

#include "KernelStandard/platform/Platform.h"
#include "patch/PatchSettings.h"

namespace NolkPatch {
namespace {

constexpr int kInterruptedExitCode = 130;  // the shell's code for an end by SIGINT
constexpr auto kWatchInterval = std::chrono::milliseconds(50);
std::atomic<bool> g_interruptRequested{false};
std::atomic<bool> g_cancellationAnnounced{false};

// Runs in a signal context: only the flag, or the children's interrupt and
// an immediate exit.
void OnInterrupt() {
  if (!g_interruptRequested.exchange(true)) return;
  OS::InterruptChildProcesses();
  OS::Current().ExitImmediately(kInterruptedExitCode);
}

// Said once, by whichever comes first: the watcher, or the run when it
// acts on the Ctrl-C (so the message always comes before the run's end).
void AnnounceCancellationOnce() {
  if (!g_cancellationAnnounced.exchange(true)) LogSinkReport(2, L"Cancelling patch process...");
}

}  // namespace

ConsoleJobHost::~ConsoleJobHost() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_stopSignal.notify_all();
  if (m_watcher.joinable()) m_watcher.join();
}

void ConsoleJobHost::ShowMessageBox(const std::wstring& text, const std::wstring& caption) {
  m_output.ShowBox(text, caption);
}

bool ConsoleJobHost::InterruptRequested() {
  if (!g_interruptRequested) return false;
  AnnounceCancellationOnce();
  return true;
}

void ConsoleJobHost::WatchInterrupts() {
  OS::Current().InstallInterruptHandler(OnInterrupt);
  if (!m_watcher.joinable()) m_watcher = std::thread([this] { WatchForInterrupt(); });
}

// Looks at the flag a few times a second, so the message follows the
// keypress promptly also while a tool runs and nothing asks.
void ConsoleJobHost::WatchForInterrupt() {
  std::unique_lock lock(m_mutex);
  while (!m_stopping && !InterruptRequested()) m_stopSignal.wait_for(lock, kWatchInterval);
}

}  // namespace NolkPatch
