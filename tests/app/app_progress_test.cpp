// The animation threads behind StartProgressAnimation, watched through a
// recording progress display.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "app/core/ProgressDisplay.h"
#include "app/core/ProgressThreads.h"
#include "patch/ProgressAnimation.h"

namespace {

class RecordingDisplay : public NolkPatch::ProgressDisplay {
 public:
  RecordingDisplay() { NolkPatch::SetProgressDisplay(this); }
  ~RecordingDisplay() override { NolkPatch::SetProgressDisplay(nullptr); }
  void SetRange(int range) override { Add('r', range); }
  void SetValue(int value) override { Add('v', value); }
  std::vector<std::pair<char, int>> Calls() {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }

 private:
  void Add(char kind, int number) {
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(kind, number);
  }
  std::mutex m_mutex;
  std::vector<std::pair<char, int>> m_calls;
};

class ProgressAnimationTest : public ::testing::Test {
 protected:
  void SetUp() override { NolkPatch::InstallProgressAnimationFactory(); }
  void TearDown() override { NolkPatch::SetAnimationFactory(nullptr); }
  RecordingDisplay m_display;
};

TEST_F(ProgressAnimationTest, UnpackFillsTowardsHalfAndEndsAtTheExpectedTime) {
  auto animation = NolkPatch::StartProgressAnimation(NolkPatch::AnimationKind::Unpack, 2);
  ASSERT_NE(animation, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  animation->Stop();
  const auto calls = m_display.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls.front(), std::make_pair('r', 2 * 120000));
  for (std::size_t i = 1; i + 1 < calls.size(); ++i)
    EXPECT_EQ(calls[i], std::make_pair('v', int(500 * (i - 1))));
  EXPECT_EQ(calls.back(), std::make_pair('v', 120000));
  animation->Stop();  // a second stop is harmless
  EXPECT_EQ(m_display.Calls().size(), calls.size());
}

TEST_F(ProgressAnimationTest, RepairStartsAtHalfAndEndsFull) {
  auto animation = NolkPatch::StartProgressAnimation(NolkPatch::AnimationKind::DatabaseRepair, 0);
  ASSERT_NE(animation, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  animation.reset();  // destruction stops the thread too
  const auto calls = m_display.Calls();
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[0], std::make_pair('r', 1201000));
  EXPECT_EQ(calls[1], std::make_pair('v', 600000));
  for (std::size_t i = 2; i + 2 < calls.size(); ++i)
    EXPECT_EQ(calls[i], std::make_pair('v', int(600000 + 500 * (i - 1))));
  EXPECT_EQ(calls[calls.size() - 2], std::make_pair('r', 1));
  EXPECT_EQ(calls.back(), std::make_pair('v', 1));
}

TEST_F(ProgressAnimationTest, UnpackWithoutDurationSetsItsEndAtOnce) {
  auto animation = NolkPatch::StartProgressAnimation(NolkPatch::AnimationKind::Unpack, -3);
  ASSERT_NE(animation, nullptr);
  animation->Stop();
  EXPECT_EQ(m_display.Calls(), (std::vector<std::pair<char, int>>{{'r', 0}, {'v', 0}}));
}

}  // namespace
