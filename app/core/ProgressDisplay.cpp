#include "app/core/ProgressDisplay.h"

#include <atomic>

namespace NolkPatch {
namespace {

std::atomic<ProgressDisplay*> g_progressDisplay{nullptr};

}  // namespace

void SetProgressDisplay(ProgressDisplay* display) {
  g_progressDisplay = display;
}

void ShowProgressRange(int range) {
  if (ProgressDisplay* display = g_progressDisplay) display->SetRange(range);
}

void ShowProgressValue(int value) {
  if (ProgressDisplay* display = g_progressDisplay) display->SetValue(value);
}

}  // namespace NolkPatch
