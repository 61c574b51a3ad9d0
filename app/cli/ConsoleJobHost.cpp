#include "app/cli/ConsoleJobHost.h"

#include <atomic>

#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr int kInterruptedExitCode = 130;  // the shell's code for an end by SIGINT
std::atomic<bool> g_cancelRequested{false};

// Runs in a signal context: only the flag and an immediate exit.
void OnInterrupt() {
  if (g_cancelRequested.exchange(true)) OS::Current().ExitImmediately(kInterruptedExitCode);
}

}  // namespace

void ConsoleJobHost::ShowMessageBox(const std::wstring& text, const std::wstring& caption) {
  m_output.ShowBox(text, caption);
}

bool ConsoleJobHost::CancelRequested() {
  return g_cancelRequested;
}

void ConsoleJobHost::InstallInterruptHandling() {
  OS::Current().InstallInterruptHandler(OnInterrupt);
}

}  // namespace NolkPatch
