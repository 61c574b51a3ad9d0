// The thin system layer: waits, events, mutexes, timers, OS::Thread and the
// throwing wrappers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "KernelStandard/OSCalls.h"
#include "KernelStandard/OSEvent.h"
#include "KernelStandard/OSMutex.h"
#include "KernelStandard/OSThread.h"
#include "KernelStandard/Ticks.h"
#include "KernelStandard/platform/FaultInjection.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A thread body that waits for an event and returns a chosen code.
struct Gate {
  OS::Handle open = OS::CreateEvent(true, false);
  int result = 0;
};

int WaitAtGate(void* raw) {
  auto* gate = static_cast<Gate*>(raw);
  OS::WaitForObject(gate->open, OS::INFINITE_WAIT);
  return gate->result;
}

TEST(KernelWaits, AutoResetEventReleasesOneWaitPerSignal) {
  OS::Handle event = OS::CreateEvent(false, true);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_OBJECT_0);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_TIMEOUT);
  OS::SetEvent(event);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_OBJECT_0);
}

TEST(KernelWaits, ManualResetEventStaysSignalledUntilReset) {
  OS::Handle event = OS::CreateEvent(true, false);
  OS::SetEvent(event);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_OBJECT_0);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_OBJECT_0);
  OS::ResetEvent(event);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_TIMEOUT);
}

TEST(KernelWaits, WaitForAnyReportsTheLowestSignalledIndexAndTimesOut) {
  std::vector<OS::Handle> events;
  for (int i = 0; i < 3; ++i) events.push_back(OS::CreateEvent(true, false));
  OS::SetEvent(events[2]);
  OS::SetEvent(events[1]);
  EXPECT_EQ(OS::WaitForObjects(events.size(), events.data(), 0), OS::WAIT_OBJECT_0 + 1);
  OS::ResetEvent(events[1]);
  OS::ResetEvent(events[2]);
  const auto start = Clock::now();
  EXPECT_EQ(OS::WaitForObjects(events.size(), events.data(), 50), OS::WAIT_TIMEOUT);
  EXPECT_GE(ElapsedMs(start), 45);
}

TEST(KernelWaits, SignalFromAnotherThreadWakesTheWaiter) {
  OS::Handle event = OS::CreateEvent(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    OS::SetEvent(event);
  });
  EXPECT_EQ(OS::WaitForObject(event, 10000), OS::WAIT_OBJECT_0);
  setter.join();
}

TEST(KernelWaits, MoreThanSixtyFourHandlesTimeOutWithoutWaiting) {
  std::vector<OS::Handle> events;
  for (int i = 0; i < 65; ++i) events.push_back(OS::CreateEvent(true, true));
  const auto start = Clock::now();
  EXPECT_EQ(OS::WaitForObjects(events.size(), events.data(), OS::INFINITE_WAIT), OS::WAIT_TIMEOUT);
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(KernelWaits, WaitOnAnEmptyHandleThrows) {
  OS::Handle none;
  EXPECT_THROW(OS::WaitForObject(none, 0), OSException);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_HANDLE);
}

TEST(KernelWaits, PulseReleasesTheWaitersOfTheMomentAndLeavesTheEventUnsignalled) {
  OS::Handle event = OS::CreateEvent(true, false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (OS::WaitForObject(event, 10000) == OS::WAIT_OBJECT_0) ++released;
    });
  // The waiters are registered once the pulse finds them; retry until all
  // three were released by pulses (never by a lasting signal).
  const auto start = Clock::now();
  while (released.load() < 3 && ElapsedMs(start) < 10000) {
    OS::PulseEvent(event);
    std::this_thread::sleep_for(5ms);
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(OS::WaitForObject(event, 0), OS::WAIT_TIMEOUT);
}

TEST(KernelWaits, NamedEventsShareOneObjectAndOpenFindsThem) {
  OS::Handle first = OS::CreateEvent(true, false, "korvel-test-named-event");
  OS::Handle second = OS::CreateEvent(true, false, "korvel-test-named-event");
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(first, second);
  OS::Handle opened = OS::OpenEvent("korvel-test-named-event");
  OS::SetEvent(opened);
  EXPECT_EQ(OS::WaitForObject(first, 0), OS::WAIT_OBJECT_0);
  first.reset();
  second.reset();
  opened.reset();
  EXPECT_THROW(OS::OpenEvent("korvel-test-named-event"), OSException);
}

TEST(KernelWaits, TimersSignalAtTheirDueTimeAndRepeatWithAPeriod) {
  OS::Handle timer = OS::CreateWaitableTimer(false);
  EXPECT_EQ(OS::WaitForObject(timer, 0), OS::WAIT_TIMEOUT);
  auto start = Clock::now();
  OS::SetWaitableTimer(timer, -30, 0);
  EXPECT_EQ(OS::WaitForObject(timer, 5000), OS::WAIT_OBJECT_0);
  EXPECT_GE(ElapsedMs(start), 25);
  EXPECT_EQ(OS::WaitForObject(timer, 60), OS::WAIT_TIMEOUT) << "a one-shot timer fires once";

  OS::SetWaitableTimer(timer, -10, 10);
  start = Clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OS::WaitForObject(timer, 5000), OS::WAIT_OBJECT_0);
  EXPECT_GE(ElapsedMs(start), 25);
  OS::CancelWaitableTimer(timer);
  EXPECT_EQ(OS::WaitForObject(timer, 40), OS::WAIT_TIMEOUT);
}

TEST(KernelWaits, AbsoluteDueTimeInThePastSignalsAtOnce) {
  OS::Handle timer = OS::CreateWaitableTimer(true);
  OS::SetWaitableTimer(timer, OS::SteadyMilliseconds() - 1000, 0);
  EXPECT_EQ(OS::WaitForObject(timer, 0), OS::WAIT_OBJECT_0);
  EXPECT_EQ(OS::WaitForObject(timer, 0), OS::WAIT_OBJECT_0) << "a manual-reset timer stays signalled";
}

TEST(KernelMutex, OwnershipIsRecursiveAndExcludesOtherThreads) {
  OS::Handle mutex = OS::CreateMutexObject(false);
  EXPECT_EQ(OS::WaitForObject(mutex, 0), OS::WAIT_OBJECT_0);
  EXPECT_EQ(OS::WaitForObject(mutex, 0), OS::WAIT_OBJECT_0);
  std::uint32_t otherResult = 0;
  std::thread([&] { otherResult = OS::WaitForObject(mutex, 0); }).join();
  EXPECT_EQ(otherResult, OS::WAIT_TIMEOUT);
  EXPECT_TRUE(OS::ReleaseMutex(mutex));
  std::thread([&] { otherResult = OS::WaitForObject(mutex, 0); }).join();
  EXPECT_EQ(otherResult, OS::WAIT_TIMEOUT) << "still held once";
  EXPECT_TRUE(OS::ReleaseMutex(mutex));
  std::thread([&] {
    otherResult = OS::WaitForObject(mutex, 0);
    OS::ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(otherResult, OS::WAIT_OBJECT_0);
}

TEST(KernelMutex, ReleasingAMutexOfAnotherThreadReturnsFalseWithoutThrowing) {
  OS::Handle mutex = OS::CreateMutexObject(true);
  bool released = true;
  int error = 0;
  std::thread([&] {
    released = OS::ReleaseMutex(mutex);
    error = OS::GetLastError();
  }).join();
  EXPECT_FALSE(released);
  EXPECT_EQ(error, 288);
  EXPECT_TRUE(OS::ReleaseMutex(mutex));
  EXPECT_FALSE(OS::ReleaseMutex(mutex)) << "not owned any more";
}

TEST(KernelMutex, ReleaseMutexOnAnEventThrows) {
  OS::Handle event = OS::CreateEvent(true, false);
  EXPECT_THROW(OS::ReleaseMutex(event), OSException);
}

TEST(KernelMutex, OSMutexReleaseByANonOwnerThrowsItsMessage) {
  OS::Mutex mutex;
  mutex.Acquire();
  std::string message;
  std::thread([&] {
    try {
      mutex.Release();
    } catch (OSException& failure) {
      message = failure.GetDescription();
    }
  }).join();
  EXPECT_EQ(message, "Failed to release the mutex");
  mutex.Release();
}

TEST(KernelMutex, MutexLockSerialisesThreads) {
  OS::Mutex mutex;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        OS::MutexLock lock(&mutex);
        const int seen = counter;
        counter = seen + 1;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 8000);
}

TEST(KernelEvent, OSEventSetWaitResetAndClose) {
  OS::Event event(true);
  std::thread setter([&] { event.Set(); });
  event.Wait();
  setter.join();
  event.Reset();
  EXPECT_EQ(OS::WaitForObject(event.GetHandle(), 0), OS::WAIT_TIMEOUT);
  OS::Handle kept = event.GetHandle();
  event.Close();
  EXPECT_EQ(OS::WaitForObject(kept, 0), OS::WAIT_OBJECT_0) << "Close sets the event first";
  try {
    event.Set();
    FAIL() << "setting a closed event must throw";
  } catch (OSException& failure) {
    EXPECT_STREQ(failure.GetDescription(), "Failed to set the event");
  }
}

TEST(KernelThreads, CreateThreadRunsTheFunctionAndJoinYieldsItsResult) {
  Gate gate;
  gate.result = 42;
  OS::Handle thread = OS::CreateThread(0, &WaitAtGate, &gate);
  EXPECT_EQ(OS::WaitForObject(thread, 20), OS::WAIT_TIMEOUT);
  EXPECT_EQ(OS::As<OS::ThreadObject>(thread)->ExitCode(), OS::STILL_ACTIVE);
  OS::SetEvent(gate.open);
  EXPECT_EQ(OS::JoinThread(thread), 42);
  EXPECT_EQ(thread, nullptr);
}

TEST(KernelThreads, FailedThreadCreationThrowsAnEmptyMessage) {
  OS::ScopedFaults faults;
  faults.Add({"StartThread", "", 0, 1, OS::ERROR_NOT_ENOUGH_MEMORY, std::nullopt, 0});
  Gate gate;
  try {
    OS::CreateThread(0, &WaitAtGate, &gate);
    FAIL() << "creation must fail";
  } catch (OSException& failure) {
    EXPECT_STREQ(failure.GetDescription(), "");
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_NOT_ENOUGH_MEMORY);
  }
}

TEST(KernelThreads, SuspendedThreadWaitsForResume) {
  std::atomic<bool> ran{false};
  auto body = [](void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
    return 7;
  };
  OS::Handle thread = OS::CreateThreadObject(0, body, &ran, true);
  ASSERT_NE(thread, nullptr);
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(OS::As<OS::ThreadObject>(thread)->Resume(), 1);
  EXPECT_EQ(OS::JoinThread(thread), 7);
  EXPECT_TRUE(ran.load());
}

TEST(KernelThreads, LoweredPriorityIsAppliedAndReadBack) {
  Gate gate;
  OS::Handle thread = OS::CreateThread(0, &WaitAtGate, &gate);
  auto* object = OS::As<OS::ThreadObject>(thread);
  while (object->ThreadId() == 0) std::this_thread::sleep_for(1ms);
  OS::SetThreadPriority(thread, -1);
  EXPECT_EQ(OS::GetThreadPriority(thread), -1);
  int level = 99;
  const std::uint32_t id = object->ThreadId();
  ASSERT_TRUE(OS::Current().GetThreadPriority(id, level));
  EXPECT_EQ(level, -1) << "the system's own reading of the thread";
  EXPECT_THROW(OS::SetThreadPriority(thread, 7), OSException) << "not a priority level";
  OS::SetEvent(gate.open);
  OS::JoinThread(thread);
}

class CountingThread : public OS::Thread {
 public:
  int Run() override { return ++runs; }
  std::atomic<int> runs{0};
};

TEST(KernelThreads, OSThreadRunsItsBodyAndCanBeStartedAgainAfterItEnded) {
  CountingThread thread;
  EXPECT_EQ(thread.Wait(), 0) << "no thread yet";
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(thread.Wait(), 1);
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(thread.Wait(), 2);
}

TEST(KernelThreads, OSThreadStartsAGivenFunction) {
  Gate gate;
  gate.result = 5;
  OS::SetEvent(gate.open);
  OS::Thread thread;
  ASSERT_TRUE(thread.Start(&WaitAtGate, &gate));
  EXPECT_EQ(thread.Wait(), 5);
}

TEST(KernelThreads, OSThreadStartReportsFailureAsFalse) {
  OS::ScopedFaults faults;
  faults.Add({"StartThread", "", 0, 1, OS::ERROR_NOT_ENOUGH_MEMORY, std::nullopt, 0});
  CountingThread thread;
  EXPECT_FALSE(thread.Start());
  EXPECT_EQ(thread.Wait(), 0);
}

class ThreadDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ThreadDeathTest, StartingWhileThePreviousThreadRunsFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        Gate gate;
        OS::Thread thread;
        thread.Start(&WaitAtGate, &gate);
        thread.Start(&WaitAtGate, &gate);
      },
      "Assertion failed: WaitForSingleObject\\(m_threadhandle, 0\\) == WAIT_OBJECT_0");
}

TEST_F(ThreadDeathTest, DestroyingARunningThreadFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        Gate gate;
        OS::Thread thread;
        thread.Start(&WaitAtGate, &gate);
      },
      "Assertion failed: WaitForSingleObject\\(m_threadhandle, 0\\) == WAIT_OBJECT_0");
}

TEST(KernelErrors, FormatSystemErrorGivesTheSystemTextOrTheNotFoundText) {
  EXPECT_EQ(OS::FormatSystemError(5), "Access is denied.");
  EXPECT_EQ(OS::FormatSystemError(10061),
            "No connection could be made because the target machine actively refused it.");
  EXPECT_EQ(OS::FormatSystemError(123456), OS::FormatSystemError(317));
  EXPECT_NE(OS::FormatSystemError(317).find("cannot find message text"), std::string::npos);
}

TEST(KernelTicks, TickDifferencesMeasureSeconds) {
  EXPECT_GT(OS::SecondsPerTick(), 0.0);
  EXPECT_LE(OS::SecondsPerTick(), 0.001);
  const std::uint64_t start = OS::ReadTicks();
  std::this_thread::sleep_for(50ms);
  const double seconds = OS::TicksToSeconds(start, OS::ReadTicks());
  EXPECT_GE(seconds, 0.045);
  EXPECT_LT(seconds, 5.0);
  EXPECT_LT(OS::TicksToSeconds(OS::ReadTicks(), start), 0.0);
}

}  // namespace
