#include "KernelStandard/FatalErrorGate.h"

#include <atomic>

#include "KernelStandard/Log.h"

namespace Vek {
namespace {

std::atomic<bool> g_fatalErrorGate{false};
std::atomic<FatalErrorWindow> g_fatalErrorWindow{nullptr};

constexpr int kQuit = 1;
constexpr int kNotShown = -1;

}  // namespace

bool FatalErrorGateIsSet() {
  return g_fatalErrorGate.load();
}

void SetFatalErrorGate() {
  g_fatalErrorGate.store(true);
}

FatalErrorWindow SetFatalErrorWindow(FatalErrorWindow window) {
  return g_fatalErrorWindow.exchange(window);
}

int ReportEscapedException(const Exception& exception) {
  const FatalErrorWindow window = g_fatalErrorWindow.load();
  if (window == nullptr) {
    LogPrint("Vek::Thread> %s exception ended a thread body: %s (%s:%d)", exception.ClassName(),
             exception.Reason().c_str(), exception.File().c_str(), exception.Line());
    return kNotShown;
  }
  const int result = window(exception);
  if (result == kQuit) SetFatalErrorGate();
  return result;
}

}  // namespace Vek
