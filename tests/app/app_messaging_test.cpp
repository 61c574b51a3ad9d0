// Posting from worker threads, the colours, and the repair stage texts.
#include <gtest/gtest.h>

#include <thread>

#include "app/core/Messaging.h"
#include "app/core/PatchJob.h"
#include "app_test_support.h"

namespace {

using app_test::RecordingTarget;

TEST(MessagingTest, LinesKeepTheirOrderPerThreadAndDoneComesLast) {
  RecordingTarget target;
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        NolkPatch::PostPatchMessage(t % 3, std::to_wstring(t) + L":" + std::to_wstring(i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  NolkPatch::PostThreadDone();

  const std::vector<app_test::RecordedEvent> events = target.Events();
  ASSERT_EQ(events.size(), static_cast<std::size_t>(kThreads * kLines + 1));
  EXPECT_EQ(events.back().level, -1);
  std::vector<int> next(kThreads, 0);
  for (std::size_t e = 0; e + 1 < events.size(); ++e) {
    const std::wstring& text = events[e].text;
    const int thread = std::stoi(text.substr(0, text.find(L':')));
    const int line = std::stoi(text.substr(text.find(L':') + 1));
    EXPECT_EQ(line, next[thread]++) << "thread " << thread;
    EXPECT_EQ(events[e].level, thread % 3);
  }
}

TEST(MessagingTest, PostsWithoutTargetAreDropped) {
  NolkPatch::PostPatchMessage(0, L"nobody listens");
  NolkPatch::PostThreadDone();
  RecordingTarget target;
  NolkPatch::PostPatchMessage(2, L"");
  EXPECT_EQ(target.Texts(), std::vector<std::wstring>{L""});
}

TEST(MessagingTest, TaskReportsWidenEightBitText) {
  RecordingTarget target;
  NolkPatch::KorvelPatchTask task;
  task.Report(1, std::string("caf\xbb"));
  task.Report(2, std::wstring(L"wide"));
  const auto events = target.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].level, 1);
  EXPECT_EQ(events[0].text, L"caf\u00bb");
  EXPECT_EQ(events[1].text, L"wide");
}

TEST(MessagingTest, LevelColours) {
  const auto expect = [](int level, int r, int g, int b) {
    const NolkPatch::MessageRgb colour = NolkPatch::MessageColour(level);
    EXPECT_EQ(colour.r, r) << level;
    EXPECT_EQ(colour.g, g) << level;
    EXPECT_EQ(colour.b, b) << level;
  };
  expect(0, 0, 0, 0);
  expect(1, 128, 128, 128);
  expect(2, 255, 0, 0);
  expect(7, 0, 0, 0);
}

TEST(RepairStageTest, StagesAreAnnouncedOnceAndInOrder) {
  RecordingTarget target;
  int counter = 0;
  NolkPatch::AdvanceRepairStage(counter, 2);  // state 2 passes stage 1
  EXPECT_EQ(target.Texts(), std::vector<std::wstring>{L"Scanning installed files. This may take a while."});
  NolkPatch::AdvanceRepairStage(counter, 2);
  EXPECT_EQ(target.Texts().size(), 1u);
  NolkPatch::AdvanceRepairStage(counter, 7);  // a jump announces the skipped stages
  EXPECT_EQ(counter, 7);
  EXPECT_EQ(target.Texts(),
            (std::vector<std::wstring>{L"Scanning installed files. This may take a while.",
                                       L"Connecting to patch servers.", L"Preparing download list.",
                                       L"Receiving updated files."}));
  NolkPatch::AdvanceRepairStage(counter, 3);  // never backwards
  EXPECT_EQ(counter, 7);
  EXPECT_EQ(target.Texts().size(), 4u);
}

}  // namespace
