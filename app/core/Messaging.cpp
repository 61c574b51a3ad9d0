#include "app/core/Messaging.h"

#include <mutex>
#include <shared_mutex>

#include "KernelStandard/TextConvert.h"

namespace NolkPatch {
namespace {

// Posts hold the lock shared, so posting threads never wait for each other;
// only a change of target waits until the posts under way have been handed
// over.
std::shared_mutex& TargetLock() {
  static std::shared_mutex lock;
  return lock;
}

MessageTarget*& Target() {
  static MessageTarget* target = nullptr;
  return target;
}

}  // namespace

void SetMessageTarget(MessageTarget* target) {
  std::unique_lock lock(TargetLock());
  Target() = target;
}

void PostPatchMessage(int level, const std::wstring& text) {
  std::shared_lock lock(TargetLock());
  if (MessageTarget* target = Target()) target->OnPatchMessage(level, text);
}

void PostThreadDone() {
  std::shared_lock lock(TargetLock());
  if (MessageTarget* target = Target()) target->OnThreadDone();
}

MessageRgb MessageColour(int level) {
  switch (level) {
    case 1:
      return kWarningColour;
    case 2:
      return kErrorColour;
    default:
      return kInfoColour;
  }
}

void KorvelPatchTask::Report(int level, const std::string& text) {
  PostPatchMessage(level, NolkUtil::ToWide(text));
}

void KorvelPatchTask::Report(int level, const std::wstring& text) {
  PostPatchMessage(level, text);
}

}  // namespace NolkPatch
