// The Vek layer: events, critical sections, and Vek::Thread with its guarded
// entry and stop event.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "KernelStandard/AssertException.h"
#include "KernelStandard/CriticalSection.h"
#include "KernelStandard/FatalErrorGate.h"
#include "KernelStandard/VekThread.h"
#include "KernelStandard/WEvent.h"

namespace {

using namespace std::chrono_literals;

TEST(VekEvent, LockWaitsForTheEventAndUnlockSucceedsWithoutEffect) {
  Vek::WEvent event(false, false);
  EXPECT_FALSE(event.Lock(0));
  EXPECT_TRUE(event.Set());
  EXPECT_TRUE(event.Unlock());
  EXPECT_TRUE(event.Lock(0)) << "Unlock leaves the signal alone";
  EXPECT_FALSE(event.Lock(0)) << "auto-reset";
  EXPECT_FALSE(event.Check());
}

TEST(VekEvent, ManualResetAndNamedEvents) {
  Vek::WEvent first(true, true, "korvel-vek-event");
  Vek::WEvent second(true, false, "korvel-vek-event");
  EXPECT_EQ(first.GetHandle(), second.GetHandle()) << "the name opens the same event";
  EXPECT_TRUE(second.Lock(0));
  EXPECT_TRUE(first.Reset());
  EXPECT_FALSE(second.Lock(0));
}

TEST(VekSyncObject, BaseObjectWithoutHandleNeitherLocksNorUnlocks) {
  Vek::SyncObject object;
  EXPECT_EQ(object.GetHandle(), nullptr);
  EXPECT_FALSE(object.Lock(0));
  EXPECT_FALSE(object.Unlock());
}

TEST(VekCriticalSection, SerialisesThreadsAndMayBeEnteredAgain) {
  Vek::CriticalSection section;
  EXPECT_EQ(section.GetHandle(), nullptr);
  EXPECT_TRUE(section.Lock(0));
  EXPECT_TRUE(section.Lock(5)) << "the time-out is ignored; the owner may enter again";
  EXPECT_TRUE(section.Unlock());
  EXPECT_TRUE(section.Unlock());

  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        Vek::CriticalSectionLock lock(section);
        const long seen = counter;
        counter = seen + 1;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 20000);
}

// A worker in the style of the kernel's bodies: it loops until the stop
// event of its thread is set.
struct StopWatcher {
  Vek::Thread* thread = nullptr;
  std::atomic<bool> started{false};
  std::atomic<bool> sawStop{false};
};

int WatchForStop(void* raw) {
  auto* watcher = static_cast<StopWatcher*>(raw);
  watcher->started = true;
  OS::Handle stop = watcher->thread->GetHandle();
  if (OS::WaitForAny(&stop, 1, 10000) == OS::WAIT_OBJECT_0) watcher->sawStop = true;
  return 3;
}

TEST(VekThread, SuspendedThreadRunsOnlyAfterResume) {
  StopWatcher watcher;
  auto thread = std::make_unique<Vek::Thread>(&WatchForStop, &watcher, false);
  watcher.thread = thread.get();
  ASSERT_TRUE(thread->IsValid());
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(watcher.started.load());
  EXPECT_TRUE(thread->IsRunning());
  EXPECT_TRUE(thread->Resume());
  while (!watcher.started.load()) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(thread->Lock(20)) << "still watching for the stop event";
  EXPECT_TRUE(thread->RequestStop());
  EXPECT_TRUE(thread->Lock(10000));
  int exitCode = -1;
  EXPECT_TRUE(thread->GetExitCode(exitCode));
  EXPECT_EQ(exitCode, 3);
  EXPECT_FALSE(thread->IsRunning());
  EXPECT_TRUE(watcher.sawStop.load());
}

TEST(VekThread, DestroyingANeverResumedThreadResumesItOnceAndJoinsIt) {
  StopWatcher watcher;
  {
    Vek::Thread thread(&WatchForStop, &watcher, false);
    watcher.thread = &thread;
  }
  EXPECT_TRUE(watcher.started.load()) << "the body ran once";
  EXPECT_TRUE(watcher.sawStop.load()) << "and saw the stop event before the destructor returned";
}

TEST(VekThread, StartNowRunsAtOnceAndThePriorityCanBeLowered) {
  std::atomic<bool> ran{false};
  auto body = [](void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
    return 0;
  };
  Vek::Thread thread(body, &ran, true);
  EXPECT_TRUE(thread.Lock(10000));
  EXPECT_TRUE(ran.load());

  std::atomic<bool> ranLow{false};
  Vek::Thread low(body, &ranLow, false);
  EXPECT_TRUE(low.SetPriority(-2));
  EXPECT_TRUE(low.Resume());
  EXPECT_TRUE(low.Lock(10000));
  EXPECT_TRUE(ranLow.load());
}

TEST(VekThread, CountsRunningBodiesAndKeepsTheSharedSectionWhileAnyRuns) {
  struct Holder {
    Vek::Thread* thread = nullptr;
    std::atomic<bool> sectionSeen{false};
  };
  auto body = [](void* raw) {
    auto* holder = static_cast<Holder*>(raw);
    if (Vek::ThreadBodiesCriticalSection() != nullptr) holder->sectionSeen = true;
    OS::Handle stop = holder->thread->GetHandle();
    OS::WaitForAny(&stop, 1, 10000);
    return 0;
  };
  const int before = Vek::RunningThreadBodies();
  Holder a;
  Holder b;
  auto first = std::make_unique<Vek::Thread>(body, &a, false);
  auto second = std::make_unique<Vek::Thread>(body, &b, false);
  a.thread = first.get();
  b.thread = second.get();
  first->Resume();
  second->Resume();
  while (Vek::RunningThreadBodies() < before + 2) std::this_thread::sleep_for(1ms);
  EXPECT_NE(Vek::ThreadBodiesCriticalSection(), nullptr);
  first.reset();
  EXPECT_EQ(Vek::RunningThreadBodies(), before + 1);
  second.reset();
  EXPECT_EQ(Vek::RunningThreadBodies(), before);
  EXPECT_TRUE(a.sectionSeen.load());
  EXPECT_TRUE(b.sectionSeen.load());
  if (before == 0) {
    EXPECT_EQ(Vek::ThreadBodiesCriticalSection(), nullptr);
  }
}

// The fatal-error window stand-in: records what it was shown and answers
// with a chosen result.
std::atomic<int> g_windowCalls{0};
std::string g_windowClass;
int g_windowAnswer = 0;

int RecordingWindow(const Vek::Exception& exception) {
  ++g_windowCalls;
  g_windowClass = exception.ClassName();
  return g_windowAnswer;
}

class ScopedWindow {
 public:
  explicit ScopedWindow(int answer) {
    g_windowCalls = 0;
    g_windowClass.clear();
    g_windowAnswer = answer;
    m_previous = Vek::SetFatalErrorWindow(&RecordingWindow);
  }
  ~ScopedWindow() { Vek::SetFatalErrorWindow(m_previous); }

 private:
  Vek::FatalErrorWindow m_previous;
};

int ThrowFileException(void*) {
  throw Vek::FileEx("disk on fire", __FILE__, __LINE__);
}

int ThrowAssertException(void*) {
  throw Vek::AssertEx("checked", __FILE__, __LINE__);
}

TEST(VekThreadEntry, KernelExceptionIsShownInTheWindowAndTheThreadEndsWithZero) {
  ScopedWindow window(0);
  Vek::Thread thread(&ThrowFileException, nullptr, true);
  ASSERT_TRUE(thread.Lock(10000));
  int exitCode = -1;
  ASSERT_TRUE(thread.GetExitCode(exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(g_windowCalls.load(), 1);
  EXPECT_EQ(g_windowClass, "File");
  EXPECT_FALSE(Vek::FatalErrorGateIsSet()) << "the user chose to continue";
}

TEST(VekThreadEntry, AssertionExceptionIsSwallowedWithoutTheWindow) {
  ScopedWindow window(0);
  Vek::Thread thread(&ThrowAssertException, nullptr, true);
  ASSERT_TRUE(thread.Lock(10000));
  int exitCode = -1;
  ASSERT_TRUE(thread.GetExitCode(exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(g_windowCalls.load(), 0);
}

// Quitting in the window sets the process-wide gate for good, so this runs
// in a child process.
TEST(VekThreadEntry, AfterTheUserQuitsNoFurtherBodyRuns) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ScopedWindow window(1);
        Vek::Thread failing(&ThrowFileException, nullptr, true);
        failing.Lock(10000);
        if (!Vek::FatalErrorGateIsSet()) std::_Exit(10);
        std::atomic<bool> ran{false};
        auto body = [](void* flag) {
          static_cast<std::atomic<bool>*>(flag)->store(true);
          return 9;
        };
        Vek::Thread later(body, &ran, true);
        if (!later.Lock(10000)) std::_Exit(11);
        int exitCode = -1;
        later.GetExitCode(exitCode);
        std::_Exit(ran.load() ? 12 : exitCode);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
