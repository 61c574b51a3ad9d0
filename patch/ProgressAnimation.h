// Progress animations that move the window's progress bar during long
// external steps (unpacking and applying an archive, rebuilding the asset
// database). The engine only starts and stops them; the application supplies
// the factory that makes the real animation threads and knows the display.
#pragma once

#include <functional>
#include <memory>

namespace NolkPatch {

enum class AnimationKind {
  Unpack,         // fills to half within the given minutes, then waits
  DatabaseRepair  // from half to full over at most ten minutes
};

class ProgressAnimation {
 public:
  virtual ~ProgressAnimation() = default;
  // Clears the running flag and waits for the animation thread to end.
  virtual void Stop() = 0;
};

using AnimationFactory = std::function<std::unique_ptr<ProgressAnimation>(AnimationKind kind, int minutes)>;

void SetAnimationFactory(AnimationFactory factory);
// Starts an animation; null when no factory is set or the thread could not
// be started (the caller then goes on without animation).
std::unique_ptr<ProgressAnimation> StartProgressAnimation(AnimationKind kind, int minutes);

}  // namespace NolkPatch
