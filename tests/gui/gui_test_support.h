// Shared helpers of the window tests: event pumping with a deadline, a
// frame whose worker the test controls, and dialogs that answer at once.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/weakref.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/PatchMainFrame.h"

namespace gui_test {

// Runs the window thread's events until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    wxTheApp->ProcessPendingEvents();
    wxYield();
    wxMilliSleep(2);
  }
  return true;
}

inline void PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

// Deletes windows whose Destroy() has been called.
inline void ProcessIdle() {
  wxTheApp->ProcessPendingEvents();
  wxTheApp->ProcessIdle();
}

// A worker that posts its lines, then waits until released or cancelled,
// and ends with the end-of-run notice.
class ScriptedThread : public NolkPatch::APThread {
 public:
  ScriptedThread(NolkPatch::MainFrame& owner, std::vector<std::wstring> lines, std::atomic<bool>& release)
      : APThread(owner), m_lines(std::move(lines)), m_release(release) {}

 protected:
  ExitCode Body() override {
    for (const std::wstring& line : m_lines) NolkPatch::PostPatchMessage(0, line);
    while (!m_release && !Owner().CancelRequested()) wxMilliSleep(5);
    return APThread::Body();
  }

 private:
  std::vector<std::wstring> m_lines;
  std::atomic<bool>& m_release;
};

// The patch window with a scripted worker and recording dialogs.
class TestFrame : public NolkPatch::PatchMainFrame {
 public:
  TestFrame() : PatchMainFrame(nullptr, L"/nonexistent/korvel-patcher") {
    NolkPatch::UserDialogs dialogs;
    dialogs.askYesNo = [this](wxWindow*, const wxString& text, const wxString& caption) {
      questions.push_back(text + "|" + caption);
      return answer;
    };
    dialogs.showMessage = [this](const wxString& text, const wxString& caption) {
      messages.push_back(text + "|" + caption);
    };
    dialogs.chooseFile = [](wxWindow*, const wxString&, const wxString&) { return wxString(); };
    SetUserDialogs(std::move(dialogs));
  }

  std::vector<std::wstring> workerLines;
  std::atomic<bool> releaseWorker{false};
  int answer = wxNO;
  std::vector<wxString> questions;
  std::vector<wxString> messages;

 protected:
  std::unique_ptr<NolkPatch::APThread> CreateWorker() override {
    return std::make_unique<ScriptedThread>(*this, workerLines, releaseWorker);
  }
};

// Creates a shown frame and makes sure it is gone after the test.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  TestFrame& Frame() { return *m_frame; }
  bool FrameDestroyed() {
    ProcessIdle();
    return !m_frame;
  }
  void Click(wxButton* button);
  std::wstring LogText() const { return m_frame->LogPane()->GetValue().ToStdWstring(); }

 private:
  wxWeakRef<TestFrame> m_frame;
};

// Where the tests save screenshots.
std::string OutputFolder();
// Saves a screenshot of the whole virtual screen as PNG; false on failure.
bool SaveScreenshot(const std::string& fileName);

// Opens the patch window as the program does for the settings in place
// (the run drivers, the log sink), with dialogs that answer no and choose
// nothing, shows it with its install folder and starts the selected mode.
NolkPatch::PatchMainFrame* OpenWindowAndStart(const std::wstring& programPath);

}  // namespace gui_test
