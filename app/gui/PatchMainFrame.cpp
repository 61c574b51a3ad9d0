#include "app/gui/PatchMainFrame.h"

#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/webview.h>

#include "KernelStandard/platform/Platform.h"
#include "app/core/RunDrivers.h"
#include "app/gui/AppIcon.h"
#include "patch/PatchSettings.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kTextPatchingInstall = 171;
constexpr int kTextRepairingInstall = 172;
constexpr int kTextRepair = 173;
const wxSize kPageViewSize(450, 100);

// The discovery of the core when it is linked; otherwise the registered
// start-up hook, which knows no dialog.
bool RunInstallDiscovery(const std::wstring& programPath, bool userRequested,
                         InstallLocatorFrontEnd& frontEnd) {
#ifdef KORVEL_HAVE_INSTALL_DISCOVERY
  return NolkPatch::LocateInstallation(programPath, userRequested, frontEnd);
#else
  (void)userRequested;
  (void)frontEnd;
  const RunDriverHooks& hooks = GetRunDriverHooks();
  return hooks.locateInstallation && hooks.locateInstallation(programPath);
#endif
}

// A control keeps its designed size unless its text (or the theme) needs
// more room.
wxSize AtLeastBestSize(wxWindow* control, const wxSize& designed) {
  const wxSize best = control->GetBestSize();
  return wxSize(std::max(designed.x, best.x), std::max(designed.y, best.y));
}

}  // namespace

PatchMainFrame::PatchMainFrame(KorvelPatcherApp* owner, const std::wstring& programPath)
    : MainFrame(owner),
      m_timer(this, kTimerId),
      m_programPath(programPath.empty() ? OS::Current().ExecutablePath() : programPath) {
  Bind(wxEVT_TIMER, &PatchMainFrame::OnTimer, this, kTimerId);
  Bind(wxEVT_BUTTON, &PatchMainFrame::OnBrowse, this, kBrowseId);
  Bind(wxEVT_WEBVIEW_NAVIGATING, &PatchMainFrame::OnPageNavigating, this, PageView::kId);
  Bind(wxEVT_WEBVIEW_LOADED, &PatchMainFrame::OnPageLoaded, this, PageView::kId);
  Bind(wxEVT_WEBVIEW_ERROR, &PatchMainFrame::OnPageError, this, PageView::kId);
  Bind(wxEVT_WEBVIEW_NEWWINDOW, &PatchMainFrame::OnPageNewWindow, this, PageView::kId);

  m_panel = new wxScrolledWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL);
  m_mainSizer = new wxBoxSizer(wxVERTICAL);
  CreatePageView();
  CreateInstallRow();
  m_panel->SetSizer(m_mainSizer);
  m_timer.Start(kTimerPeriodMs);
  CreateControls(m_panel, m_mainSizer);

  const wxIcon icon = LoadNolkIcon();
  if (icon.IsOk()) SetIcon(icon);
  ApplyButton()->Enable();
  if (PatchSettings::Get().RepairMode) ApplyButton()->SetLabel(LoadMessageText(kTextRepair));
  m_installField->Disable();
  m_browseButton->Disable();
  m_pageView.Show(false);
  m_panel->Layout();
}

PatchMainFrame::~PatchMainFrame() {
  m_timer.Stop();
}

// The view loads at once; without a web engine its place stays empty, so
// the window keeps its size and layout.
void PatchMainFrame::CreatePageView() {
  if (m_pageView.Create(m_panel, PageView::kId, kPageViewSize)) {
    m_mainSizer->Add(m_pageView.Window(), 0, wxEXPAND | wxALL | wxRESERVE_SPACE_EVEN_IF_HIDDEN, 5);
    m_pageView.LoadUrl(PatchNotesUrl());
  } else {
    m_mainSizer->Add(kPageViewSize.x, kPageViewSize.y, 0, wxEXPAND | wxALL, 5);
  }
}

void PatchMainFrame::CreateInstallRow() {
  const PatchSettings& settings = PatchSettings::Get();
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  const int labelId = settings.RepairMode ? kTextRepairingInstall : kTextPatchingInstall;
  m_installLabel =
      new wxStaticText(m_panel, kInstallLabelId, LoadMessageText(labelId), wxDefaultPosition, wxSize(80, 20));
  m_installLabel->SetMinSize(AtLeastBestSize(m_installLabel, wxSize(80, 20)));
  row->Add(m_installLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
  m_installField =
      new wxTextCtrl(m_panel, wxID_ANY, wxString(settings.InstallPath), wxDefaultPosition, wxSize(215, 20));
  row->Add(m_installField, 1, wxEXPAND | wxALL, 5);
  m_browseButton = new wxButton(m_panel, kBrowseId, "...", wxDefaultPosition, wxSize(25, 20), wxBU_EXACTFIT);
  m_browseButton->SetMinSize(AtLeastBestSize(m_browseButton, wxSize(25, 20)));
  row->Add(m_browseButton, 0, wxALIGN_CENTER_VERTICAL, 0);
  m_mainSizer->Add(row, 0, wxEXPAND | wxALL, 5);
}

std::unique_ptr<APThread> PatchMainFrame::CreateWorker() {
  return std::make_unique<WindowPatchThread>(*this, *this);
}

void PatchMainFrame::AfterStart() {
  m_browseButton->Enable(ApplyButton()->IsEnabled());
}

void PatchMainFrame::ShowInstallPath() {
  m_installField->SetValue(wxString(PatchSettings::Get().InstallPath));
}

bool PatchMainFrame::LocateInstallation(const std::wstring& programPath, bool userRequested) {
  return RunInstallDiscovery(programPath, userRequested, *this);
}

template <typename Action>
void PatchMainFrame::OnWindowThread(Action action) {
  if (wxThread::IsMain()) {
    action();
  } else {
    CallAfter(action);
  }
}

void PatchMainFrame::EnableBrowse() {
  OnWindowThread([this] { m_browseButton->Enable(); });
}

void PatchMainFrame::EnableApply() {
  OnWindowThread([this] { ApplyButton()->Enable(); });
}

std::wstring PatchMainFrame::ChooseGameProgram() {
  const wxString path = Dialogs().chooseFile(this, "Locate Ombrix.exe...", "Ombrix.exe|Ombrix.exe");
  return path.ToStdWstring();
}

// Ticks come only during start-up: a close requested then is carried out
// once no worker exists; otherwise the idle gauge is kept at zero.
void PatchMainFrame::OnTimer(wxTimerEvent&) {
  if (CancelRequested() && !HasWorker()) {
    Close(true);
  } else if (!HasWorker()) {
    Gauge()->SetValue(0);
  }
}

void PatchMainFrame::OnBrowse(wxCommandEvent&) {
  ClearLog();
  LocateInstallation(m_programPath, true);
  ShowInstallPath();
}

void PatchMainFrame::OnPageNavigating(wxWebViewEvent& event) {
  m_pageView.HandleNavigating(event);
}

void PatchMainFrame::OnPageLoaded(wxWebViewEvent& event) {
  if (m_pageView.HandleLoaded(event)) m_panel->Layout();
}

void PatchMainFrame::OnPageError(wxWebViewEvent& event) {
  m_pageView.HandleError(event);
}

void PatchMainFrame::OnPageNewWindow(wxWebViewEvent& event) {
  m_pageView.HandleNewWindow(event);
}

}  // namespace NolkPatch
