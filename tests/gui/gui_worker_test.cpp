// Runs in the window: the start operation, cancelling with the question,
// the Exit button, messages from several threads and the worker's host.
#include <wx/tokenzr.h>

#include <thread>

#include "app/core/Messaging.h"
#include "app/core/ProgressDisplay.h"
#include "gui_test_support.h"

namespace {

using gui_test::FrameTest;
using gui_test::PumpUntil;

class RunTest : public FrameTest {
 protected:
  void StartRun() {
    wxCommandEvent apply(wxEVT_BUTTON, 0);
    Frame().StartPatch(apply);
  }
  bool RunEnded() {
    return PumpUntil([&] { return Frame().CancelButton()->GetLabel() == "Exit"; });
  }
};

TEST_F(RunTest, StartingDisablesApplyAndBrowseAndFocusesTheLog) {
  Frame().BrowseButton()->Enable();
  StartRun();
  EXPECT_TRUE(Frame().HasWorker());
  EXPECT_TRUE(Frame().WorkerRunning());
  EXPECT_FALSE(Frame().ApplyButton()->IsEnabled());
  EXPECT_FALSE(Frame().BrowseButton()->IsEnabled());
  Frame().releaseWorker = true;
  EXPECT_TRUE(RunEnded());
}

TEST_F(RunTest, AfterTheRunCancelBecomesExitAndClosesWithoutAQuestion) {
  Frame().workerLines = {L"Patching completed."};
  Frame().releaseWorker = true;
  StartRun();
  ASSERT_TRUE(RunEnded());
  EXPECT_TRUE(Frame().CancelButton()->IsEnabled());
  EXPECT_FALSE(Frame().WorkerRunning());
  EXPECT_EQ(LogText(), L"Patching completed.");
  Click(Frame().CancelButton());
  EXPECT_TRUE(Frame().questions.empty());
  EXPECT_TRUE(FrameDestroyed());
}

TEST_F(RunTest, AnsweringNoKeepsTheRunGoingAndChangesNothing) {
  StartRun();
  Frame().answer = wxNO;
  Frame().Close();
  ASSERT_EQ(Frame().questions.size(), 1u);
  EXPECT_EQ(Frame().questions[0], "Do you really want to cancel?|Korvel Patcher ");
  EXPECT_TRUE(Frame().WorkerRunning());
  EXPECT_FALSE(Frame().CancelRequested());
  EXPECT_TRUE(Frame().CancelButton()->IsEnabled());
  gui_test::PumpFor(100);
  EXPECT_TRUE(LogText().empty());
  EXPECT_FALSE(FrameDestroyed());
  Frame().releaseWorker = true;
  EXPECT_TRUE(RunEnded());
}

TEST_F(RunTest, AnsweringYesCancelsInRedAndKeepsTheWindowUntilTheRunEnds) {
  Frame().workerLines = {L"working"};
  StartRun();
  ASSERT_TRUE(PumpUntil([&] { return LogText() == L"working"; }));
  Frame().answer = wxYES;
  Click(Frame().CancelButton());
  EXPECT_EQ(Frame().questions.size(), 1u);
  EXPECT_TRUE(Frame().CancelRequested());
  EXPECT_FALSE(Frame().WorkerRunning());
  EXPECT_FALSE(Frame().CancelButton()->IsEnabled());
  EXPECT_FALSE(FrameDestroyed());

  // The scripted worker polls the cancel flag and ends.
  ASSERT_TRUE(RunEnded());
  EXPECT_EQ(LogText(), L"working\nCancelling patch process...");
  wxTextAttr style;
  ASSERT_TRUE(Frame().LogPane()->GetStyle(10, style));
  EXPECT_EQ(style.GetTextColour(), wxColour(255, 0, 0));
  EXPECT_TRUE(Frame().CancelButton()->IsEnabled());
  Click(Frame().CancelButton());
  EXPECT_EQ(Frame().questions.size(), 1u);
  EXPECT_TRUE(FrameDestroyed());
}

TEST_F(RunTest, ApplyAfterAnEndedRunStartsANewWorker) {
  Frame().releaseWorker = true;
  StartRun();
  ASSERT_TRUE(RunEnded());
  Frame().ApplyButton()->Enable();
  Frame().CancelButton()->SetLabel("Cancel");
  Frame().releaseWorker = false;
  StartRun();
  EXPECT_TRUE(Frame().WorkerRunning());
  gui_test::PumpFor(100);
  EXPECT_EQ(Frame().CancelButton()->GetLabel(), "Cancel");
  Frame().releaseWorker = true;
  EXPECT_TRUE(RunEnded());
}

TEST_F(RunTest, LinesFromSeveralThreadsKeepEachThreadsOrderAndTheNoticeComesLast) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 60;
  std::size_t linesAtNotice = 0;
  Frame().Bind(
      wxEVT_MENU,
      [&](wxCommandEvent& event) {
        linesAtNotice = static_cast<std::size_t>(Frame().LogPane()->GetNumberOfLines());
        event.Skip();
      },
      2);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([t] {
      for (int n = 0; n < kLinesEach; ++n)
        NolkPatch::PostPatchMessage(0, std::to_wstring(t) + L":" + std::to_wstring(n));
    });
  }
  for (std::thread& poster : posters) poster.join();
  NolkPatch::PostThreadDone();
  ASSERT_TRUE(RunEnded());
  EXPECT_EQ(linesAtNotice, static_cast<std::size_t>(kThreads * kLinesEach));

  std::vector<int> next(kThreads, 0);
  wxStringTokenizer lines(Frame().LogPane()->GetValue(), "\n");
  int count = 0;
  while (lines.HasMoreTokens()) {
    const wxString line = lines.GetNextToken();
    const int thread = wxAtoi(line.BeforeFirst(':'));
    ASSERT_GE(thread, 0);
    ASSERT_LT(thread, kThreads);
    EXPECT_EQ(wxAtoi(line.AfterFirst(':')), next[thread]++) << line;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLinesEach);
}

TEST_F(RunTest, WorkerSideCallsReachTheControlsOnTheWindowThread) {
  std::thread worker([&] {
    NolkPatch::ShowProgressRange(400);
    NolkPatch::ShowProgressValue(300);
    Frame().EnableApply(false);
    Frame().ShowMessageBox(L"Unable to patch - files in use.", L"Files In Use");
  });
  ASSERT_TRUE(PumpUntil([&] { return !Frame().messages.empty(); }));
  worker.join();
  EXPECT_EQ(Frame().messages[0], "Unable to patch - files in use.|Files In Use");
  EXPECT_EQ(Frame().Gauge()->GetRange(), 400);
  EXPECT_EQ(Frame().Gauge()->GetValue(), 300);
  EXPECT_FALSE(Frame().ApplyButton()->IsEnabled());
}

}  // namespace
