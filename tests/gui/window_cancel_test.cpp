// The window's Cancel during a whole standalone run, from start-up on with
// the engine callbacks the program registers: once confirmed, the run stops
// at the engine's next entry and the patch is rolled back; a diff already
// under way finishes its file first.
#include <filesystem>
#include <optional>

#include "app/core/StandardRunDrivers.h"
#include "app/core/StartupSteps.h"
#include "app/gui/StartMode.h"
#include "app/slow_diff_tool.h"
#include "app/standalone_test_support.h"
#include "gui_test_support.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"
#include "patch/ProgressAnimation.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::TakeTree;
using standalone_test::Tree;

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

class WindowCancel : public standalone_test::StandaloneRunTest {
 protected:
  void SetUp() override {
    NolkPatch::PatchSettings::Get().Reset();
    MakeTree("100", {{"data/first.dat", std::string(40000, 'a')},
                     {"data/second.dat", std::string(40000, 'b')},
                     {"data/obsolete.dat", "removed by 200"}});
    MakeTree("200", {{"data/first.dat", std::string(40000, 'a') + "changed"},
                     {"data/second.dat", std::string(40000, 'b') + "changed"},
                     {"data/added.dat", "new in 200"}});
    for (const std::string version : {"100", "200"})
      app_test::InstallSlowDiffTool(TreePath(version), "first.dat", VPATCH_TOOL);
    Package("200", {"100"}, {{"100", "200"}});
    InstallCopyOf("100");
    RegisterInstall();
  }

  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    NolkPatch::SetLogSink(nullptr);
    NolkPatch::SetPatchEngineCallbacks({});
    NolkPatch::SetAnimationFactory(nullptr);
    NolkPatch::PatchSettings::Get().Reset();
  }

  // The window program's start-up, with dialogs that record the question
  // and answer Yes.
  void StartWindow() {
    m_registry.emplace("KORVEL_REGISTRY", (m_folder / "registry.reg").string());
    m_temp.emplace("TEMP", (m_folder / "temp").string());
    m_mark.emplace(app_test::kSlowDiffMarkVariable, Mark().string());
    NolkPatch::InstallProgressAnimationFactory();
    NolkPatch::InstallStandardRunDrivers();
    NolkPatch::FindInstallPathIfMissing();
    NolkPatch::MakeInstallPathAbsolute();
    m_frame = new NolkPatch::PatchMainFrame(nullptr, ProgramPath().wstring());
    NolkPatch::UserDialogs dialogs;
    dialogs.askYesNo = [this](wxWindow*, const wxString& text, const wxString&) {
      m_questions.push_back(text.ToStdWstring());
      return wxYES;
    };
    dialogs.showMessage = [](const wxString&, const wxString&) {};
    dialogs.chooseFile = [](wxWindow*, const wxString&, const wxString&) { return wxString(); };
    m_frame->SetUserDialogs(std::move(dialogs));
    m_frame->Show();
    NolkPatch::SetLogSink(NolkPatch::PostPatchMessage);
    NolkPatch::SetPatchEngineCallbacks(m_frame->EngineCallbacks());
    m_frame->LocateInstallation(ProgramPath().wstring(), false);
    m_frame->ShowInstallPath();
    m_frame->StopTimer();
    NolkPatch::StartSelectedMode(*m_frame);
  }

  void PressApply() {
    wxCommandEvent apply(wxEVT_BUTTON, NolkPatch::MainFrame::kApplyId);
    apply.SetEventObject(m_frame->ApplyButton());
    m_frame->ApplyButton()->ProcessWindowEvent(apply);
  }

  fs::path Mark() const { return m_folder / "slow-diff.txt"; }
  std::string MarkText() const { return fs::exists(Mark()) ? app_test::ReadFile(Mark()) : std::string(); }
  std::wstring Log() const { return m_frame->LogPane()->GetValue().ToStdWstring(); }

  wxWeakRef<NolkPatch::PatchMainFrame> m_frame;
  std::vector<std::wstring> m_questions;

 private:
  std::optional<app_test::ScopedEnv> m_registry;
  std::optional<app_test::ScopedEnv> m_temp;
  std::optional<app_test::ScopedEnv> m_mark;
};

TEST_F(WindowCancel, ConfirmedCancelDuringADiffRollsThePatchBack) {
  const Tree before = TakeTree(Install());
  StartWindow();
  ASSERT_TRUE(m_frame->ApplyButton()->IsEnabled()) << Log();
  PressApply();
  ASSERT_TRUE(gui_test::PumpUntil([this] { return MarkText() == "started\n"; }, 120000)) << Log();

  m_frame->Close();
  ASSERT_EQ(m_questions, std::vector<std::wstring>{L"Do you really want to cancel?"});
  EXPECT_FALSE(m_frame->CancelButton()->IsEnabled());
  ASSERT_TRUE(gui_test::PumpUntil([this] { return m_frame->CancelButton()->GetLabel() == "Exit"; }, 120000))
      << Log();

  const std::wstring log = Log();
  EXPECT_TRUE(Contains(log, L"\nCancelling patch process...\n")) << log;
  EXPECT_TRUE(Contains(log, L"Failed to apply the patch: 100_to_200\nPatching aborted.")) << log;
  EXPECT_FALSE(Contains(log, L"Patching completed.")) << log;
  EXPECT_EQ(MarkText(), "started\nfinished\n") << "the diff under way was cut short";
  Tree after = TakeTree(Install());
  after.erase("KorvelPatch.journal");  // the patcher's own bookkeeping, not a game file
  EXPECT_TRUE(after == before) << standalone_test::DescribeDifferences(before, after);
}

}  // namespace
