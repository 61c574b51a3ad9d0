#include "app/gui/MainFrame.h"

#include <wx/sizer.h>

#include "patch/PatchSettings.h"

namespace NolkPatch {
namespace {

constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 28;
constexpr int kGaugeRange = 100;
constexpr int kBoxPollMs = 20;

MainFrame* g_mainWindow = nullptr;

wxColour LevelColour(int level) {
  const MessageRgb rgb = MessageColour(level);
  return wxColour(rgb.r, rgb.g, rgb.b);
}

long CurrentThreadTag() {
  return static_cast<long>(wxThread::GetCurrentId());
}

}  // namespace

MainFrame::MainFrame(KorvelPatcherApp* owner)
    : wxFrame(nullptr, wxID_ANY, "Korvel Patcher ", wxDefaultPosition, wxSize(900, 800), kFrameStyle,
              "frame"),
      m_owner(owner),
      m_dialogs(StandardUserDialogs()) {
  g_mainWindow = this;
  SetMessageTarget(this);
  SetProgressDisplay(this);
  Bind(wxEVT_BUTTON, &MainFrame::OnApply, this, kApplyId);
  Bind(wxEVT_BUTTON, &MainFrame::OnCancel, this, kCancelId);
  Bind(wxEVT_MENU, &MainFrame::OnRunEnded, this, kThreadDoneId);
  Bind(wxEVT_MENU, &MainFrame::OnLogLine, this, kLogLineId);
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::OnClose, this);
}

MainFrame::~MainFrame() {
  m_closing = true;
  if (g_mainWindow == this) {
    g_mainWindow = nullptr;
    SetMessageTarget(nullptr);
    SetProgressDisplay(nullptr);
  }
  // A joinable thread is waited for before its object goes; by now its run
  // has ended (the window closes only then) or it is finishing.
  if (m_worker) m_worker->Wait();
}

void MainFrame::CreateControls(wxWindow* panel, wxSizer* sizer) {
  m_logPane = new wxTextCtrl(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(50, 250),
                             wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2);
  sizer->Add(m_logPane, 1, wxEXPAND | wxALL, 10);
  m_statusLine = new wxStaticText(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(-1, 20),
                                  wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  sizer->Add(m_statusLine, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);
  m_gauge = new wxGauge(panel, wxID_ANY, kGaugeRange, wxDefaultPosition, wxSize(-1, 25), wxGA_HORIZONTAL);
  sizer->Add(m_gauge, 0, wxEXPAND | wxALL | wxFIXED_MINSIZE, 10);
  AddButtonRow(panel, sizer);
  FixSizeToSizerMinimum();
  Centre(wxBOTH);
  m_applyButton->Enable();
}

void MainFrame::AddButtonRow(wxWindow* panel, wxSizer* sizer) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  const wxSize buttonSize(kButtonWidth, kButtonHeight);
  m_applyButton = new wxButton(panel, kApplyId, "Apply Update", wxDefaultPosition, buttonSize);
  m_cancelButton = new wxButton(panel, kCancelId, "Cancel", wxDefaultPosition, buttonSize);
  row->Add(m_applyButton, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
  row->Add(m_cancelButton, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
  sizer->Add(row, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);
}

// The frame has no resize border; a fixed minimum and maximum also stop
// programmatic resizing, so the size always is the sizer's minimum.
void MainFrame::FixSizeToSizerMinimum() {
  auto* frameSizer = new wxBoxSizer(wxVERTICAL);
  frameSizer->Add(m_panel, 1, wxEXPAND);
  m_panel->SetMinSize(m_mainSizer->GetMinSize());
  SetSizer(frameSizer);
  Fit();
  SetSizeHints(GetSize(), GetSize());
}

void MainFrame::StartPatch(wxCommandEvent&) {
  // The previous worker has announced its end (Apply is enabled again only
  // then or just before); its object is replaced by the new one.
  if (m_worker) m_worker->Wait();
  m_worker = CreateWorker();
  const bool started = m_worker->Create() == wxTHREAD_NO_ERROR && m_worker->Run() == wxTHREAD_NO_ERROR;
  if (started) {
    m_runEnded = false;
    m_workerRunning = true;
    m_applyButton->Disable();
  } else {
    m_worker.reset();
  }
  m_logPane->SetFocus();
  AfterStart();
}

void MainFrame::OnApply(wxCommandEvent& event) {
  StartPatch(event);
}

void MainFrame::OnCancel(wxCommandEvent&) {
  Close(true);
}

void MainFrame::OnClose(wxCloseEvent& event) {
  if (WorkerActive() && !m_cancelRequested) {
    if (m_dialogs.askYesNo(this, "Do you really want to cancel?", GetTitle()) != wxYES) {
      if (event.CanVeto()) event.Veto();
      return;
    }
    m_workerRunning = false;
  }
  m_cancelButton->Disable();
  m_cancelRequested = true;
  LogSinkReport(2, L"Cancelling patch process...");
  if (!WorkerActive()) {
    Destroy();
  } else if (event.CanVeto()) {
    event.Veto();
  }
}

PatchEngineCallbacks MainFrame::EngineCallbacks() {
  PatchEngineCallbacks callbacks;
  callbacks.message = PostPatchMessage;
  StopOnCancel(callbacks, [this] { return CancelRequested(); });
  return callbacks;
}

void MainFrame::OnPatchMessage(int level, const std::wstring& text) {
  auto* event = new wxCommandEvent(wxEVT_MENU, kLogLineId);
  event->SetString(wxString(text));
  event->SetInt(level);
  wxQueueEvent(this, event);
}

void MainFrame::OnThreadDone() {
  auto* event = new wxCommandEvent(wxEVT_MENU, kThreadDoneId);
  event->SetExtraLong(CurrentThreadTag());
  wxQueueEvent(this, event);
}

void MainFrame::OnLogLine(wxCommandEvent& event) {
  if (!m_logPane) return;
  std::lock_guard lock(m_messageLock);
  m_logPane->SetInsertionPointEnd();
  m_logPane->SetDefaultStyle(wxTextAttr(LevelColour(event.GetInt())));
  if (m_lineShown) m_logPane->AppendText("\n");
  m_logPane->AppendText(event.GetString());
  m_lineShown = true;
}

// A notice from a worker that has since been replaced belongs to an older
// run and must not end the current one.
void MainFrame::OnRunEnded(wxCommandEvent& event) {
  if (m_worker && event.GetExtraLong() != static_cast<long>(m_worker->GetId())) return;
  m_workerRunning = false;
  m_runEnded = true;
  m_cancelButton->SetLabel("Exit");
  m_cancelButton->Enable();
}

void MainFrame::ClearLog() {
  if (wxThread::IsMain()) {
    ClearLogOnWindowThread();
  } else {
    CallAfter(&MainFrame::ClearLogOnWindowThread);
  }
}

void MainFrame::ClearLogOnWindowThread() {
  if (!m_logPane) return;
  std::lock_guard lock(m_messageLock);
  m_logPane->Clear();
}

void MainFrame::SetRange(int range) {
  CallAfter([this, range] { m_gauge->SetRange(range); });
}

void MainFrame::SetValue(int value) {
  CallAfter([this, value] { m_gauge->SetValue(value); });
}

void MainFrame::EnableApply(bool enable) {
  CallAfter([this, enable] { m_applyButton->Enable(enable); });
}

// The worker waits until the box has been closed; a window that is being
// destroyed releases it (its queued box is then never shown).
void MainFrame::ShowMessageBox(const std::wstring& text, const std::wstring& caption) {
  if (wxThread::IsMain()) {
    m_dialogs.showMessage(text, caption);
    return;
  }
  auto closed = std::make_shared<std::atomic<bool>>(false);
  CallAfter([this, closed, text, caption] {
    m_dialogs.showMessage(text, caption);
    *closed = true;
  });
  while (!*closed && !m_closing) wxMilliSleep(kBoxPollMs);
}

}  // namespace NolkPatch
