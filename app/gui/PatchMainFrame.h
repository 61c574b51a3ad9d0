// The patch window: the patch-notes view and the installation row above
// the generic part, the start-up timer, the window's worker type and the
// installation discovery with the open-file dialog.
#pragma once

#include <wx/timer.h>

#include <string>

#include "app/core/InstallDiscovery.h"
#include "app/gui/MainFrame.h"
#include "app/gui/PageView.h"

class wxWebViewEvent;

namespace NolkPatch {

class PatchMainFrame : public MainFrame, public InstallLocatorFrontEnd {
 public:
  static constexpr int kTimerId = 1;
  static constexpr int kInstallLabelId = 5105;
  static constexpr int kBrowseId = 15;
  static constexpr int kTimerPeriodMs = 500;

  explicit PatchMainFrame(KorvelPatcherApp* owner, const std::wstring& programPath = std::wstring());
  ~PatchMainFrame() override;

  // Puts PatchSettings.InstallPath into the installation field.
  void ShowInstallPath();
  // Finds the installation and checks the package in `programPath` against
  // it, with this window as the front end. True when the package applies.
  bool LocateInstallation(const std::wstring& programPath, bool userRequested);
  void StopTimer() { m_timer.Stop(); }
  bool TimerRunning() const { return m_timer.IsRunning(); }

  // InstallLocatorFrontEnd; safe from any thread.
  void EnableBrowse() override;
  void EnableApply() override;
  std::wstring ChooseGameProgram() override;
  using MainFrame::EnableApply;

  wxStaticText* InstallLabel() const { return m_installLabel; }
  wxTextCtrl* InstallField() const { return m_installField; }
  wxButton* BrowseButton() const { return m_browseButton; }
  PageView& Page() { return m_pageView; }

 protected:
  std::unique_ptr<APThread> CreateWorker() override;
  // The browse button follows the Apply button.
  void AfterStart() override;

 private:
  void CreatePageView();
  void CreateInstallRow();
  void OnTimer(wxTimerEvent& event);
  void OnBrowse(wxCommandEvent& event);
  void OnPageNavigating(wxWebViewEvent& event);
  void OnPageLoaded(wxWebViewEvent& event);
  void OnPageError(wxWebViewEvent& event);
  void OnPageNewWindow(wxWebViewEvent& event);
  template <typename Action>
  void OnWindowThread(Action action);

  wxTextCtrl* m_installField = nullptr;
  PageView m_pageView;
  wxTimer m_timer;
  wxButton* m_browseButton = nullptr;
  wxStaticText* m_installLabel = nullptr;
  std::wstring m_programPath;
};

}  // namespace NolkPatch
