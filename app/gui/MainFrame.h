// The generic part of the patch window: the log pane, the status line, the
// progress gauge, the Apply and Cancel buttons, the worker and the messages
// that workers post. Workers never touch a control: log lines and the
// end-of-run notice arrive as queued command events, gauge and button
// changes as calls queued onto the window thread.
#pragma once

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "app/core/Messaging.h"
#include "app/core/PatchJob.h"
#include "app/core/ProgressDisplay.h"
#include "app/gui/PatchThread.h"
#include "app/gui/UserDialogs.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {

class KorvelPatcherApp;

class MainFrame : public wxFrame, public MessageTarget, public ProgressDisplay, public PatchJobHost {
 public:
  static constexpr int kApplyId = 0;
  static constexpr int kCancelId = 1;
  static constexpr int kThreadDoneId = 2;
  static constexpr int kLogLineId = 3;
  static constexpr long kFrameStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxCLIP_CHILDREN;

  explicit MainFrame(KorvelPatcherApp* owner);
  ~MainFrame() override;

  // Starts a new worker (Apply, or at once in download and repair mode).
  virtual void StartPatch(wxCommandEvent& event);
  // Empties the log pane; callable from any thread.
  void ClearLog();

  // MessageTarget: called on the posting thread, queue events only.
  void OnPatchMessage(int level, const std::wstring& text) override;
  void OnThreadDone() override;
  // ProgressDisplay: moved onto the window thread.
  void SetRange(int range) override;
  void SetValue(int value) override;
  // PatchJobHost.
  void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override;
  void EnableApply(bool enable) override;
  bool CancelRequested() override { return m_cancelRequested; }
  // The engine's callbacks for this window's runs: messages are posted,
  // and once Cancel is confirmed the run stops at its next entry and rolls
  // back (StopOnCancel). They refer to the window, so they must be replaced
  // before it goes; the window goes only after its worker has ended.
  PatchEngineCallbacks EngineCallbacks();

  void SetUserDialogs(UserDialogs dialogs) { m_dialogs = std::move(dialogs); }
  bool WorkerRunning() const { return m_workerRunning; }
  bool HasWorker() const { return m_worker != nullptr; }
  wxCriticalSection& WindowLock() { return m_windowLock; }
  KorvelPatcherApp* Owner() const { return m_owner; }

  wxTextCtrl* LogPane() const { return m_logPane; }
  wxGauge* Gauge() const { return m_gauge; }
  wxStaticText* StatusLine() const { return m_statusLine; }
  wxButton* ApplyButton() const { return m_applyButton; }
  wxButton* CancelButton() const { return m_cancelButton; }

 protected:
  // Adds the log pane, status line, gauge and button row to `sizer`, fits
  // the frame to the sizer's minimum, fixes that size and centres it.
  void CreateControls(wxWindow* panel, wxSizer* sizer);
  // The worker of one run; the window owns it.
  virtual std::unique_ptr<APThread> CreateWorker() = 0;
  // Called after a start attempt, on the window thread.
  virtual void AfterStart() {}
  // Whether the latest worker has started and not yet announced its end.
  bool WorkerActive() const { return m_worker && !m_runEnded; }
  const UserDialogs& Dialogs() const { return m_dialogs; }

  wxWindow* m_panel = nullptr;
  wxSizer* m_mainSizer = nullptr;

 private:
  void OnApply(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnLogLine(wxCommandEvent& event);
  void OnRunEnded(wxCommandEvent& event);
  void ClearLogOnWindowThread();
  void FixSizeToSizerMinimum();
  void AddButtonRow(wxWindow* panel, wxSizer* sizer);

  wxCriticalSection m_windowLock;
  std::atomic<bool> m_workerRunning{false};
  wxTextCtrl* m_logPane = nullptr;
  wxGauge* m_gauge = nullptr;
  wxStaticText* m_statusLine = nullptr;
  wxButton* m_applyButton = nullptr;
  wxButton* m_cancelButton = nullptr;
  std::unique_ptr<APThread> m_worker;
  KorvelPatcherApp* m_owner;
  std::mutex m_messageLock;
  std::atomic<bool> m_cancelRequested{false};

  bool m_runEnded = false;   // the latest worker's end-of-run notice arrived
  bool m_lineShown = false;  // a log line has been shown (no break before the first)
  std::atomic<bool> m_closing{false};
  UserDialogs m_dialogs;
};

}  // namespace NolkPatch
