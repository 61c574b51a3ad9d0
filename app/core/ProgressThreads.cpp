#include "app/core/ProgressThreads.h"

#include <algorithm>
#include <csignal>
#include <memory>

#include "KernelStandard/platform/Platform.h"
#include "app/core/FatalError.h"
#include "app/core/ProgressDisplay.h"
#include "patch/ProgressAnimation.h"

namespace NolkPatch {
namespace {

constexpr int kStepMs = 500;
// The gauge range is twice the expected time in milliseconds and has to fit
// an int: longer durations are cut to this many minutes.
constexpr int kMaxHackMinutes = 17000;
constexpr int kRepairRange = 1201000;
constexpr int kRepairHalf = 600000;

// Runs one animation thread and stops it on request or destruction.
class AnimationThreadHandle final : public ProgressAnimation {
 public:
  static std::unique_ptr<ProgressAnimation> Start(AnimationThread* thread) {
    if (thread->Run() != wxTHREAD_NO_ERROR) {
      delete thread;
      return nullptr;
    }
    return std::unique_ptr<ProgressAnimation>(new AnimationThreadHandle(thread));
  }

  ~AnimationThreadHandle() override { Stop(); }

  void Stop() override {
    if (m_thread == nullptr) return;
    m_thread->RequestStop();
    m_thread->Wait();
    delete m_thread;
    m_thread = nullptr;
  }

 private:
  explicit AnimationThreadHandle(AnimationThread* thread) : m_thread(thread) {}

  AnimationThread* m_thread;
};

std::unique_ptr<ProgressAnimation> StartAnimation(AnimationKind kind, int minutes) {
  if (kind == AnimationKind::Unpack) return AnimationThreadHandle::Start(new OADHackProgressThread(minutes));
  return AnimationThreadHandle::Start(new OADRepairProgressThread());
}

}  // namespace

wxThread::ExitCode wxGuardedThread::Entry() {
  OS::Current().UseFaultStackOnThisThread();  // a fault here can still be reported
  if (OS::Current().DebuggerAttached()) return Body();
  try {
    Body();
  } catch (...) {
    // An exception that escapes a worker is a fault like any other.
    HandleFatalFault(SIGABRT, 0);
  }
  return 0;
}

bool AnimationThread::WaitStep() {
  return !m_stop.Lock(kStepMs);
}

wxThread::ExitCode OADHackProgressThread::Body() {
  const int duration = std::clamp(m_minutes, 0, kMaxHackMinutes) * 60000;
  ShowProgressRange(2 * duration);
  for (int elapsed = 0; elapsed < duration; elapsed += kStepMs) {
    ShowProgressValue(elapsed);
    if (!WaitStep()) break;
  }
  ShowProgressValue(duration);
  return 0;
}

wxThread::ExitCode OADRepairProgressThread::Body() {
  ShowProgressRange(kRepairRange);
  ShowProgressValue(kRepairHalf);
  int elapsed = 0;
  while (WaitStep()) {
    elapsed += kStepMs;
    ShowProgressValue(kRepairHalf + elapsed);
    if (elapsed >= kRepairHalf) break;
  }
  ShowProgressRange(1);
  ShowProgressValue(1);
  return 0;
}

void InstallProgressAnimationFactory() {
  SetAnimationFactory(StartAnimation);
}

}  // namespace NolkPatch
