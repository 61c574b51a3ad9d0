// The patch worker's host on the console: message boxes become lines on
// standard error, there is no Apply button, and Ctrl-C is the window's
// Cancel. The first Ctrl-C asks the run to stop (it rolls back and ends
// "Patching aborted.") and is announced with "Cancelling patch process..."
// at level 2, as the window does; a second one ends the program at once
// with 130, interrupting the tools it runs (the next run recovers).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/cli/ConsoleOutput.h"
#include "app/core/PatchJob.h"

namespace NolkPatch {

class ConsoleJobHost final : public PatchJobHost {
 public:
  explicit ConsoleJobHost(ConsoleOutput& output) : m_output(output) {}
  // Stops the interrupt watcher.
  ~ConsoleJobHost() override;
  ConsoleJobHost(const ConsoleJobHost&) = delete;
  ConsoleJobHost& operator=(const ConsoleJobHost&) = delete;

  void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override;
  void EnableApply(bool enable) override { (void)enable; }
  bool CancelRequested() override { return InterruptRequested(); }

  // Routes Ctrl-C to the cancel flag and starts the watcher that announces
  // the cancellation. The signal handler itself only sets the flag (or
  // ends the program); the message is posted from a normal thread.
  void WatchInterrupts();
  // Whether Ctrl-C has been pressed; the engine's cancel question. The
  // first true answer also announces the cancellation, unless the watcher
  // has done so already.
  static bool InterruptRequested();

 private:
  void WatchForInterrupt();

  ConsoleOutput& m_output;
  std::mutex m_mutex;
  std::condition_variable m_stopSignal;
  bool m_stopping = false;
  std::thread m_watcher;
};

}  // namespace NolkPatch
