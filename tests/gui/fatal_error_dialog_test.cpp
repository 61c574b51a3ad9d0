// The fatal-error window: its controls and lines, resizing, the answers of
// its buttons and close box, and its use from a worker thread.
#include <sys/wait.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/timer.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "KernelStandard/Exception.h"
#include "app/gui/FatalErrorDialog.h"
#include "gui_test_support.h"

namespace {

using NolkPatch::FatalErrorDialog;

// The dialog on screen now, if any.
FatalErrorDialog* OpenDialog() {
  for (wxWindow* window : wxTopLevelWindows) {
    if (auto* dialog = dynamic_cast<FatalErrorDialog*>(window); dialog != nullptr && dialog->IsShown())
      return dialog;
  }
  return nullptr;
}

// Runs `act` on the dialog once it is up (inside its modal loop, from a
// timer of the window thread).
class WhenShown {
 public:
  explicit WhenShown(std::function<void(FatalErrorDialog&)> act) : m_act(std::move(act)) {
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      FatalErrorDialog* dialog = OpenDialog();
      if (dialog == nullptr || m_done) return;
      m_done = true;
      m_timer.Stop();
      m_act(*dialog);
    });
    m_timer.Start(50);
  }
  bool Done() const { return m_done; }

 private:
  wxTimer m_timer;
  std::function<void(FatalErrorDialog&)> m_act;
  bool m_done = false;
};

void Press(FatalErrorDialog& dialog, int id) {
  auto* button = wxDynamicCast(dialog.FindWindow(id), wxButton);
  ASSERT_NE(button, nullptr) << id;
  wxCommandEvent click(wxEVT_BUTTON, id);
  click.SetEventObject(button);
  button->ProcessWindowEvent(click);
}

Vek::FileEx SampleException() {
  Vek::FileEx exception("Write() File not open", "KernelStandard\\File", 124);
  exception.SetCallStack("callstack: 4011a0 401230\r\n  korvel-patcher Vek::File::Write [File.cpp:124]\r\n");
  return exception;
}

TEST(FatalErrorDialogTest, ShowsTheLinesResizesAndContinueAnswersZero) {
  std::vector<std::string> seen;
  bool resizable = false, listGrew = false, buttonsFollowed = false, grip = false;
  WhenShown when([&](FatalErrorDialog& dialog) {
    for (unsigned i = 0; i < dialog.List()->GetCount(); ++i)
      seen.push_back(dialog.List()->GetString(i).ToStdString());
    resizable = (dialog.GetWindowStyleFlag() & wxRESIZE_BORDER) != 0;
    EXPECT_EQ(dialog.List()->GetId(), FatalErrorDialog::kListId);
    EXPECT_EQ(dialog.GetSize(), dialog.GetMinSize()) << "it starts at its smallest size";
    gui_test::PumpFor(200);
    EXPECT_TRUE(gui_test::SaveScreenshot("fatal-error-window.png"));
    // Larger: the list grows, the quit button keeps its distance to the
    // bottom-right corner.
    wxWindow* quit = dialog.FindWindow(FatalErrorDialog::kQuitId);
    const wxSize before = dialog.GetClientSize();
    const wxPoint quitBefore = quit->GetPosition();
    const wxSize listBefore = dialog.List()->GetSize();
    dialog.SetSize(dialog.GetSize() + wxSize(200, 120));
    dialog.Layout();
    gui_test::PumpFor(200);
    const wxSize after = dialog.GetClientSize();
    const wxPoint quitAfter = quit->GetPosition();
    listGrew = dialog.List()->GetSize().GetWidth() > listBefore.GetWidth() &&
               dialog.List()->GetSize().GetHeight() > listBefore.GetHeight();
    buttonsFollowed = before.GetWidth() - quitBefore.x == after.GetWidth() - quitAfter.x &&
                      before.GetHeight() - quitBefore.y == after.GetHeight() - quitAfter.y;
    grip = dialog.ShowsSizeGrip();
    EXPECT_TRUE(gui_test::SaveScreenshot("fatal-error-window-resized.png"));
    Press(dialog, FatalErrorDialog::kContinueId);
  });
  const int result = NolkPatch::ShowFatalErrorDialog(SampleException());
  EXPECT_TRUE(when.Done());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "File: KernelStandard\\File", "Line: 124", "Class: File",
                      "Reason: Write() File not open", "Version: Vek vRRRRR.RR Build 1234.5.QQQQQ",
                      "callstack: 4011a0 401230", "  korvel-patcher Vek::File::Write [File.cpp:124]"}));
  EXPECT_TRUE(resizable);
  EXPECT_TRUE(listGrew);
  EXPECT_TRUE(buttonsFollowed);
  EXPECT_TRUE(grip);
}

TEST(FatalErrorDialogTest, QuitAndTheCloseBoxAnswerOne) {
  {
    WhenShown when([](FatalErrorDialog& dialog) { Press(dialog, FatalErrorDialog::kQuitId); });
    EXPECT_EQ(NolkPatch::ShowFatalErrorDialog(SampleException()), 1);
    EXPECT_TRUE(when.Done());
  }
  {
    WhenShown when([](FatalErrorDialog& dialog) { dialog.Close(); });
    EXPECT_EQ(NolkPatch::ShowFatalErrorDialog(SampleException()), 1);
    EXPECT_TRUE(when.Done());
  }
}

// A worker's exception: the dialog runs on the window thread while the
// worker waits for the answer.
TEST(FatalErrorDialogTest, AWorkerThreadGetsTheAnswerFromTheWindowThread) {
  std::atomic<int> result{-2};
  std::atomic<bool> onWindowThread{false};
  WhenShown when([&](FatalErrorDialog& dialog) {
    onWindowThread = wxThread::IsMain();
    Press(dialog, FatalErrorDialog::kQuitId);
  });
  std::thread worker([&] { result = NolkPatch::ShowFatalErrorDialog(SampleException()); });
  EXPECT_TRUE(gui_test::PumpUntil([&] { return result.load() != -2; }, 20000));
  worker.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_TRUE(onWindowThread.load());
}

}  // namespace

namespace {

// The window program itself on the virtual screen: a terminate request (as
// from `kill`, or the session ending) ends it the way the request ends a
// program, without a crash dump or report.
TEST(WindowProgramEndTest, ATerminateRequestEndsTheWindowProgramQuietly) {
  char pattern[] = "/tmp/korvel-window-end-XXXXXX";
  const std::filesystem::path folder = ::mkdtemp(pattern);
  const std::filesystem::path program = folder / "korvel-patcher";
  std::filesystem::copy_file(KORVEL_PATCHER, program);
  std::filesystem::create_directories(folder / "temp");
  const std::string registry = "KORVEL_REGISTRY=" + (folder / "registry.reg").string();
  const std::string temp = "TEMP=" + (folder / "temp").string();
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::putenv(const_cast<char*>(registry.c_str()));
    ::putenv(const_cast<char*>(temp.c_str()));
    if (!std::freopen((folder / "out.txt").c_str(), "w", stdout)) ::_exit(126);
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Up and in its event loop: it has made its current folder its own.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  std::ifstream out(folder / "out.txt");
  const std::string logged((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find("Console Window event handler called for CtrlType=6"), std::string::npos) << logged;
  std::vector<std::string> left;
  for (const std::filesystem::path& place : {folder, folder / "temp"}) {
    for (const auto& entry : std::filesystem::directory_iterator(place)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".dmp") || name == "ERRORLOG.TXT" || name == "CRASH.DMP") left.push_back(name);
    }
  }
  EXPECT_EQ(left, std::vector<std::string>{});
  std::filesystem::remove_all(folder);
}

}  // namespace
