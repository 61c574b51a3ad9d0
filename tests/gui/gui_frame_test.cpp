// The patch window's layout, labels, log pane and close behaviour.
#include <wx/sizer.h>

#include <thread>

#include "app/core/Messaging.h"
#include "app/gui/StartMode.h"
#include "gui_test_support.h"
#include "patch/PatchSettings.h"

namespace {

using gui_test::FrameTest;
using gui_test::PumpUntil;

wxColour ColourAt(wxTextCtrl* pane, long position) {
  wxTextAttr style;
  EXPECT_TRUE(pane->GetStyle(position, style));
  return style.GetTextColour();
}

TEST_F(FrameTest, FrameIsFixedSizeWithoutResizeOrMaximise) {
  const long style = Frame().GetWindowStyleFlag();
  EXPECT_TRUE(style & wxCAPTION);
  EXPECT_TRUE(style & wxSYSTEM_MENU);
  EXPECT_TRUE(style & wxCLOSE_BOX);
  EXPECT_TRUE(style & wxCLIP_CHILDREN);
  EXPECT_FALSE(style & wxRESIZE_BORDER);
  EXPECT_FALSE(style & wxMAXIMIZE_BOX);
  EXPECT_FALSE(style & wxMINIMIZE_BOX);
  EXPECT_EQ(Frame().GetTitle(), "Korvel Patcher ");
  EXPECT_EQ(Frame().GetName(), "frame");

  const wxSize fitted = Frame().GetSize();
  EXPECT_EQ(Frame().GetMinSize(), fitted);
  EXPECT_EQ(Frame().GetMaxSize(), fitted);
  Frame().SetSize(wxSize(fitted.x + 300, fitted.y + 200));
  gui_test::PumpFor(50);
  EXPECT_EQ(Frame().GetSize(), fitted);
}

TEST_F(FrameTest, ControlsCarryTheirIdsAndStartLabels) {
  EXPECT_EQ(Frame().ApplyButton()->GetId(), 0);
  EXPECT_EQ(Frame().ApplyButton()->GetLabel(), "Apply Update");
  EXPECT_TRUE(Frame().ApplyButton()->IsEnabled());
  EXPECT_EQ(Frame().CancelButton()->GetId(), 1);
  EXPECT_EQ(Frame().CancelButton()->GetLabel(), "Cancel");
  EXPECT_EQ(Frame().BrowseButton()->GetId(), 15);
  EXPECT_EQ(Frame().BrowseButton()->GetLabel(), "...");
  EXPECT_FALSE(Frame().BrowseButton()->IsEnabled());
  EXPECT_FALSE(Frame().InstallField()->IsEnabled());
  EXPECT_EQ(Frame().InstallLabel()->GetId(), 5105);
  EXPECT_EQ(Frame().InstallLabel()->GetLabel(), "Patching install:");
  EXPECT_EQ(Frame().Gauge()->GetRange(), 100);
  EXPECT_TRUE(Frame().StatusLine()->GetLabel().empty());
  EXPECT_TRUE(Frame().LogPane()->IsMultiLine());
  EXPECT_FALSE(Frame().LogPane()->IsEditable());
  EXPECT_TRUE(Frame().GetIcons().GetIconCount() > 0);
}

TEST_F(FrameTest, ShowInstallPathPutsTheSettingIntoTheField) {
  NolkPatch::PatchSettings::Get().InstallPath = L"/games/Ombrix";
  Frame().ShowInstallPath();
  EXPECT_EQ(Frame().InstallField()->GetValue(), "/games/Ombrix");
}

TEST(RepairModeFrame, RowAndApplyButtonSayRepair) {
  NolkPatch::PatchSettings::Get().Reset();
  NolkPatch::PatchSettings::Get().RepairMode = true;
  auto* frame = new gui_test::TestFrame;
  EXPECT_EQ(frame->InstallLabel()->GetLabel(), "Repairing install:");
  EXPECT_EQ(frame->ApplyButton()->GetLabel(), "Repair");
  frame->Destroy();
  gui_test::ProcessIdle();
  NolkPatch::PatchSettings::Get().Reset();
}

TEST_F(FrameTest, LogLinesTakeTheirLevelColourAndOnlyLaterLinesStartNewLines) {
  NolkPatch::PostPatchMessage(0, L"info");
  NolkPatch::PostPatchMessage(1, L"warning");
  NolkPatch::PostPatchMessage(2, L"error");
  NolkPatch::PostPatchMessage(0, L"");
  NolkPatch::PostPatchMessage(7, L"odd level");
  ASSERT_TRUE(PumpUntil([&] { return LogText().find(L"odd level") != std::wstring::npos; }));
  EXPECT_EQ(LogText(), L"info\nwarning\nerror\n\nodd level");

  wxTextCtrl* pane = Frame().LogPane();
  EXPECT_EQ(ColourAt(pane, 1), wxColour(0, 0, 0));
  EXPECT_EQ(ColourAt(pane, 6), wxColour(128, 128, 128));
  EXPECT_EQ(ColourAt(pane, 14), wxColour(255, 0, 0));
  EXPECT_EQ(ColourAt(pane, static_cast<long>(LogText().size()) - 1), wxColour(0, 0, 0));
}

TEST_F(FrameTest, ClearLogFromAnotherThreadEmptiesThePane) {
  NolkPatch::PostPatchMessage(0, L"to be cleared");
  ASSERT_TRUE(PumpUntil([&] { return !LogText().empty(); }));
  std::thread clearer([&] { Frame().ClearLog(); });
  clearer.join();
  EXPECT_TRUE(PumpUntil([&] { return LogText().empty(); }));
}

TEST_F(FrameTest, CancelBeforeAnyRunClosesAtOnceWithoutAQuestion) {
  Click(Frame().CancelButton());
  EXPECT_TRUE(Frame().CancelRequested());
  EXPECT_TRUE(Frame().questions.empty());
  EXPECT_TRUE(FrameDestroyed());
}

TEST_F(FrameTest, WithoutAnyModeApplyIsDisabledAndTheErrorShowsInRed) {
  NolkPatch::StartSelectedMode(Frame());
  EXPECT_FALSE(Frame().ApplyButton()->IsEnabled());
  EXPECT_FALSE(Frame().HasWorker());
  const std::wstring text = L"No valid patch operation was specified. Patching aborted.";
  ASSERT_TRUE(PumpUntil([&] { return LogText() == text; }));
  EXPECT_EQ(ColourAt(Frame().LogPane(), 3), wxColour(255, 0, 0));
  gui_test::PumpFor(300);  // let the window draw before the screenshot
  EXPECT_TRUE(gui_test::SaveScreenshot("no-valid-operation.png"));
}

TEST_F(FrameTest, StandaloneModeWaitsForApply) {
  NolkPatch::PatchSettings::Get().SetStandaloneMode(true);
  NolkPatch::StartSelectedMode(Frame());
  gui_test::PumpFor(50);
  EXPECT_TRUE(Frame().ApplyButton()->IsEnabled());
  EXPECT_FALSE(Frame().HasWorker());
  EXPECT_TRUE(LogText().empty());
}

TEST_F(FrameTest, IdleTimerKeepsTheGaugeAtZeroUntilStopped) {
  EXPECT_TRUE(Frame().TimerRunning());
  Frame().Gauge()->SetValue(40);
  EXPECT_TRUE(PumpUntil([&] { return Frame().Gauge()->GetValue() == 0; }, 2000));
  Frame().StopTimer();
  Frame().Gauge()->SetValue(40);
  gui_test::PumpFor(700);
  EXPECT_EQ(Frame().Gauge()->GetValue(), 40);
}

}  // namespace
