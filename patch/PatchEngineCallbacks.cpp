#include "patch/PatchEngineCallbacks.h"

#include <utility>

namespace NolkPatch {
namespace {

PatchEngineCallbacks& Callbacks() {
  static PatchEngineCallbacks callbacks;
  return callbacks;
}

}  // namespace

void SetPatchEngineCallbacks(PatchEngineCallbacks callbacks) {
  Callbacks() = std::move(callbacks);
}

const PatchEngineCallbacks& GetPatchEngineCallbacks() {
  return Callbacks();
}

void PostEngineMessage(int level, const std::wstring& text) {
  if (Callbacks().message) Callbacks().message(level, text);
}

bool EngineStepAllowed() {
  return !Callbacks().step || Callbacks().step();
}

bool EngineCancelRequested() {
  return Callbacks().cancelRequested && Callbacks().cancelRequested();
}

void StopOnCancel(PatchEngineCallbacks& callbacks, std::function<bool()> cancelRequested) {
  callbacks.step = [cancelRequested] { return !cancelRequested(); };
  callbacks.cancelRequested = std::move(cancelRequested);
}

}  // namespace NolkPatch
