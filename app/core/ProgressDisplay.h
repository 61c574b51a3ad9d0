// The progress bar as the workers see it: one process-wide display that the
// front end registers (the window forwards to its gauge on the window
// thread, the console draws a bar on the terminal). Calls made while none is
// registered do nothing.
#pragma once

namespace NolkPatch {

class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void SetRange(int range) = 0;
  virtual void SetValue(int value) = 0;
};

// Registers the display (null unregisters); not owned.
void SetProgressDisplay(ProgressDisplay* display);
void ShowProgressRange(int range);
void ShowProgressValue(int value);

}  // namespace NolkPatch
