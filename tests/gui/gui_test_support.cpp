#include "gui_test_support.h"

#include <stdlib.h>

#include <filesystem>

#include "KernelStandard/platform/Platform.h"
#include "app/core/StandardRunDrivers.h"
#include "app/gui/StartMode.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace gui_test {
namespace {

// Starts the GUI toolkit once for the whole program, as the window program
// does. The patch-notes page defaults to a blank page so no test goes to
// the network.
class ToolkitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("KORVEL_PATCH_NOTES_URL", "about:blank", 0);
    wxApp::SetInstance(new wxApp);
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    ASSERT_TRUE(wxEntryStart(argc, argv));
    ASSERT_TRUE(wxTheApp->CallOnInit());
    wxTheApp->SetExitOnFrameDelete(false);
    NolkPatch::SetMessageLanguage(9);
  }
  void TearDown() override {
    wxTheApp->OnExit();
    wxEntryCleanup();
  }
};

const auto* const g_toolkit = ::testing::AddGlobalTestEnvironment(new ToolkitEnvironment);

}  // namespace

void FrameTest::SetUp() {
  NolkPatch::PatchSettings::Get().Reset();
  NolkPatch::SetLogSink(NolkPatch::PostPatchMessage);
  m_frame = new TestFrame;
  m_frame->Show();
  PumpFor(50);
}

void FrameTest::TearDown() {
  if (m_frame) {
    m_frame->releaseWorker = true;
    m_frame->Destroy();
  }
  ProcessIdle();
  NolkPatch::SetLogSink(nullptr);
  NolkPatch::PatchSettings::Get().Reset();
}

void FrameTest::Click(wxButton* button) {
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->ProcessWindowEvent(click);
}

std::string OutputFolder() {
  std::filesystem::create_directories(KORVEL_GUI_OUTPUT_DIR);
  return KORVEL_GUI_OUTPUT_DIR;
}

bool SaveScreenshot(const std::string& fileName) {
  const std::string path = OutputFolder() + "/" + fileName;
  int pid = 0;
  int exitCode = -1;
  if (!OS::Current().SpawnDetached({"import", "-window", "root", path}, pid)) return false;
  return OS::Current().WaitProcess(pid, 20000, exitCode) && exitCode == 0 && std::filesystem::exists(path);
}

NolkPatch::PatchMainFrame* OpenWindowAndStart(const std::wstring& programPath) {
  NolkPatch::InstallStandardRunDrivers();
  NolkPatch::SetLogSink(NolkPatch::PostPatchMessage);
  auto* frame = new NolkPatch::PatchMainFrame(nullptr, programPath);
  NolkPatch::UserDialogs dialogs;
  dialogs.askYesNo = [](wxWindow*, const wxString&, const wxString&) { return wxNO; };
  dialogs.showMessage = [](const wxString&, const wxString&) {};
  dialogs.chooseFile = [](wxWindow*, const wxString&, const wxString&) { return wxString(); };
  frame->SetUserDialogs(std::move(dialogs));
  frame->Show();
  frame->ShowInstallPath();
  NolkPatch::StartSelectedMode(*frame);
  return frame;
}

}  // namespace gui_test
