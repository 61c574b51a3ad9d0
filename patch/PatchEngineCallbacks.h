// How the patch engine reports: optional process-wide callbacks, set once at
// start-up. The engine never touches the window; each front end registers
// the message callback (its LogSink) and its Cancel (the window's button,
// Ctrl-C in the console) through StopOnCancel.
#pragma once

#include <functional>
#include <string>

namespace NolkPatch {

// Message levels: 0 information, 1 warning, 2 error.
enum MessageLevel : int { LEVEL_INFO = 0, LEVEL_WARNING = 1, LEVEL_ERROR = 2 };

struct PatchEngineCallbacks {
  // Called once per run with the total number of list entries.
  std::function<void(unsigned)> total;
  // Called before each entry of the added, deleted and patched steps;
  // false stops the step at once (it fails without a message).
  std::function<bool()> step;
  // Receives every message of the engine.
  std::function<void(int level, const std::wstring& text)> message;
  // True once the user has asked to stop the run. The archive unpacker
  // polls it before each entry and each block of a file.
  std::function<bool()> cancelRequested;
};

// Makes the run stop once `cancelRequested` turns true: the step callback
// then refuses the next entry of the added, deleted and patched steps (so
// the patch is rolled back; a diff tool already running finishes its one
// file first), and the unpacker stops at its next entry or block.
void StopOnCancel(PatchEngineCallbacks& callbacks, std::function<bool()> cancelRequested);

void SetPatchEngineCallbacks(PatchEngineCallbacks callbacks);
const PatchEngineCallbacks& GetPatchEngineCallbacks();

// Posts a message through the message callback when one is set.
void PostEngineMessage(int level, const std::wstring& text);
// Calls the step callback; true when none is set.
bool EngineStepAllowed();
// Calls the cancel callback; false when none is set.
bool EngineCancelRequested();

}  // namespace NolkPatch
