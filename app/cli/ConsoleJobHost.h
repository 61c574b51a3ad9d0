// The patch worker's host on the console: message boxes become lines on
// standard error, there is no Apply button, and Ctrl-C asks for
// cancellation (a second Ctrl-C ends the program at once).
#pragma once

#include "app/cli/ConsoleOutput.h"
#include "app/core/PatchJob.h"

namespace NolkPatch {

class ConsoleJobHost final : public PatchJobHost {
 public:
  explicit ConsoleJobHost(ConsoleOutput& output) : m_output(output) {}

  void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override;
  void EnableApply(bool enable) override { (void)enable; }
  bool CancelRequested() override;

  // Routes Ctrl-C to the cancel flag.
  static void InstallInterruptHandling();

 private:
  ConsoleOutput& m_output;
};

}  // namespace NolkPatch
