// The system log: the buffer limit, the destinations and the observers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "KernelStandard/Assert.h"
#include "KernelStandard/Log.h"
#include "log_test_support.h"

namespace {

using logtest::RecordingObserver;
using logtest::StdoutCapture;

TEST(SystemLogFormat, LongOutputIsCutTo4095CharactersAndKeepsItsLineFeed) {
  RecordingObserver observer;
  const std::string longText(6000, 'x');
  LogPrintTo(LOG_OBSERVERS, "%s", longText.c_str());
  LogPrintToW(LOG_OBSERVERS, L"%ls", std::wstring(6000, L'y').c_str());
  ASSERT_EQ(observer.texts.size(), 2u);
  EXPECT_EQ(observer.texts[0], std::wstring(4095, L'x') + L"\n");
  EXPECT_EQ(observer.texts[1], std::wstring(4095, L'y') + L"\n");
}

TEST(SystemLogFormat, OutputBelowTheLimitIsKeptWhole) {
  RecordingObserver observer;
  LogPrintTo(LOG_OBSERVERS, "%s", std::string(4095, 'a').c_str());
  LogPrintToW(LOG_OBSERVERS, L"Copy> %ls failed with %d", L"bin/Launcher.exe", 32);
  ASSERT_EQ(observer.texts.size(), 2u);
  EXPECT_EQ(observer.texts[0].size(), 4096u);
  EXPECT_EQ(observer.texts[1], L"Copy> bin/Launcher.exe failed with 32\n");
}

TEST(SystemLogFormat, WideTextKeepsTheTypographicCharactersOfThe8BitForm) {
  RecordingObserver observer;
  LogPrintToW(LOG_OBSERVERS, L"%ls", L"\u201CPatch\u201D \u2013 done\u2026 \u4E2D");
  ASSERT_EQ(observer.texts.size(), 1u);
  EXPECT_EQ(observer.texts[0], L"\u201CPatch\u201D \u2013 done\u2026 ?\n");
}

TEST(SystemLogObservers, EveryRegisteredObserverGetsEachEntryUntilUnregistered) {
  RecordingObserver first;
  std::wstring seen;
  {
    RecordingObserver second;
    LogPrintTo(LOG_OBSERVERS, "entry %d", 1);
    ASSERT_EQ(second.texts.size(), 1u);
    seen = second.texts[0];
  }
  LogPrintTo(LOG_OBSERVERS, "entry %d", 2);
  EXPECT_EQ(seen, L"entry 1\n");
  ASSERT_EQ(first.texts.size(), 2u);
  EXPECT_EQ(first.texts[1], L"entry 2\n");
}

TEST(SystemLogObservers, ObserverThatLogsIsNotNotifiedAgainAndDoesNotDeadlock) {
  int nestedCalls = 0;
  RecordingObserver observer([&](const std::wstring&) {
    ++nestedCalls;
    LogPrintTo(LOG_OBSERVERS, "from inside the observer");
  });
  RecordingObserver witness;
  LogPrintTo(LOG_OBSERVERS, "outer");
  EXPECT_EQ(nestedCalls, 1);
  ASSERT_EQ(observer.texts.size(), 1u);
  EXPECT_EQ(observer.texts[0], L"outer\n");
  ASSERT_EQ(witness.texts.size(), 1u);
  EXPECT_EQ(witness.texts[0], L"outer\n");
}

TEST(SystemLogObservers, ObserverThatThrowsDoesNotSilenceLaterEntries) {
  bool throwNext = true;
  RecordingObserver observer([&](const std::wstring&) {
    if (throwNext) {
      throwNext = false;
      throw 1;
    }
  });
  EXPECT_THROW(LogPrintTo(LOG_OBSERVERS, "first"), int);
  LogPrintTo(LOG_OBSERVERS, "second");
  ASSERT_EQ(observer.texts.size(), 2u);
  EXPECT_EQ(observer.texts[1], L"second\n");
}

TEST(SystemLogObservers, ConcurrentEntriesAndRegistrationsLoseNothing) {
  RecordingObserver permanent;
  std::atomic<bool> logging{true};
  std::thread churn([&] {
    while (logging) {
      RecordingObserver transient;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < 250; ++i) LogPrintTo(LOG_OBSERVERS, "writer %d entry %d", t, i);
    });
  for (std::thread& writer : writers) writer.join();
  logging = false;
  churn.join();
  EXPECT_EQ(permanent.texts.size(), 1000u);
}

TEST(SystemLogDestinations, ObserversOnlyWritesNothingToStandardOutput) {
  RecordingObserver observer;
  StdoutCapture capture;
  LogPrintTo(LOG_OBSERVERS, "observers only");
  EXPECT_EQ(capture.Finish(), "");
  ASSERT_EQ(observer.texts.size(), 1u);
}

TEST(SystemLogDestinations, StandardOutputTakesThe8BitTextWithItsLineFeed) {
  RecordingObserver observer;
  StdoutCapture capture;
  LogPrintToW(LOG_STDOUT, L"stdout %ls %d", L"\u00ABtext\u00BB", 7);
  EXPECT_EQ(capture.Finish(), "stdout \xABtext\xBB 7\n");
  EXPECT_TRUE(observer.texts.empty());
}

TEST(SystemLogDestinations, PlainEntryPointsReachStandardOutputAndObservers) {
  RecordingObserver observer;
  StdoutCapture capture;
  LogPrint("all %s", "destinations");
  EXPECT_EQ(capture.Finish(), "all destinations\n");
  ASSERT_EQ(observer.texts.size(), 1u);
  EXPECT_EQ(observer.texts[0], L"all destinations\n");
}

// An observer that leaves registration to the test.
class BareObserver : public NolkSystemLogObserver {
 public:
  void OnLogText(const std::wstring&) override {}
};

class SystemLogDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// The assertion message goes to standard output; the death test reads
// standard error, so the child points one at the other first.
TEST_F(SystemLogDeathTest, RegisteringWhileObserversAreNotifiedFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        BareObserver late;
        RecordingObserver observer([&](const std::wstring&) { RegisterSystemLogObserver(&late); });
        LogPrintTo(LOG_OBSERVERS, "notify");
      },
      "Assertion failed: !g_bIsIterating");
}

TEST_F(SystemLogDeathTest, DestroyingARegisteredObserverFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        BareObserver observer;
        RegisterSystemLogObserver(&observer);
      },
      "Assertion failed: g_systemLogObservers\\.find\\(this\\) == g_systemLogObservers\\.end\\(\\)");
}

TEST_F(SystemLogDeathTest, AssertionMessageGoesThroughTheSystemLog) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        VEK_ASSERT(1 + 1 == 3);
      },
      "Assertion failed: 1 \\+ 1 == 3");
}

}  // namespace
