// How the patch engine reports: three optional process-wide callbacks, set
// once at start-up. The engine never touches the window; the application
// registers the message callback (its LogSink) and leaves the others empty.
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
};

void SetPatchEngineCallbacks(PatchEngineCallbacks callbacks);
const PatchEngineCallbacks& GetPatchEngineCallbacks();

// Posts a message through the message callback when one is set.
void PostEngineMessage(int level, const std::wstring& text);
// Calls the step callback; true when none is set.
bool EngineStepAllowed();

}  // namespace NolkPatch
