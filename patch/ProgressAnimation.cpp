#include "patch/ProgressAnimation.h"

#include <utility>

namespace NolkPatch {
namespace {

AnimationFactory& Factory() {
  static AnimationFactory factory;
  return factory;
}

}  // namespace

void SetAnimationFactory(AnimationFactory factory) {
  Factory() = std::move(factory);
}

std::unique_ptr<ProgressAnimation> StartProgressAnimation(AnimationKind kind, int minutes) {
  if (!Factory()) return nullptr;
  return Factory()(kind, minutes);
}

}  // namespace NolkPatch
