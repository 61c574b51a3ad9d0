#include "app/gui/FatalErrorDialog.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/thread.h>

#include <condition_variable>
#include <mutex>

#include "KernelStandard/FatalErrorGate.h"

namespace NolkPatch {
namespace {

constexpr int kQuit = 1;
constexpr int kContinue = 0;
constexpr int kNotShown = -1;
constexpr int kMargin = 8;

// Runs on the window thread. A window that fails to open still tells the
// user, and the program stops (quit).
int RunDialog(const Vek::Exception& exception) {
  try {
    FatalErrorDialog dialog(Vek::FatalErrorLines(exception));
    return dialog.ShowModal() == FatalErrorDialog::kContinueId ? kContinue : kQuit;
  } catch (...) {
    wxMessageBox("An error occurred trying to display the fatal error window! (0)", "Fatal Error",
                 wxOK | wxICON_STOP, nullptr);
    return kQuit;
  }
}

}  // namespace

FatalErrorDialog::FatalErrorDialog(const std::vector<std::string>& lines)
    : wxDialog(nullptr, wxID_ANY, "Fatal Error", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  m_list = new wxListBox(this, kListId, wxDefaultPosition, wxSize(520, 220), 0, nullptr,
                         wxLB_SINGLE | wxLB_HSCROLL | wxLB_NEEDED_SB);
  for (const std::string& line : lines) m_list->Append(wxString::FromUTF8(line.c_str()));
  // The list is at least as wide as its widest line, so a line is read
  // without scrolling where the screen allows.
  int widest = 0;
  for (const std::string& line : lines) {
    int width = 0, height = 0;
    m_list->GetTextExtent(wxString::FromUTF8(line.c_str()), &width, &height);
    if (width > widest) widest = width;
  }
  const int border = wxSystemSettings::GetMetric(wxSYS_EDGE_X, m_list);
  const int wanted = widest + 3 * (border > 0 ? border : 1);
  const int screen = wxSystemSettings::GetMetric(wxSYS_SCREEN_X) * 3 / 4;
  if (wanted > m_list->GetMinSize().GetWidth()) m_list->SetMinSize(wxSize(std::min(wanted, screen), 220));

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  buttons->Add(new wxButton(this, kContinueId, "&Continue"), 0, wxRIGHT, kMargin);
  buttons->Add(new wxButton(this, kQuitId, "&Quit"), 0);
  auto* layout = new wxBoxSizer(wxVERTICAL);
  // The list grows with the window; the buttons keep their distance to the
  // bottom-right corner, clear of the size grip.
  layout->Add(m_list, 1, wxEXPAND | wxALL, kMargin);
  layout->Add(buttons, 0, wxEXPAND | wxLEFT | wxBOTTOM | wxRIGHT, kMargin + kGripSize / 2);
  SetSizerAndFit(layout);
  SetMinSize(GetSize());  // it starts at its smallest size
  SetEscapeId(kQuitId);
  SetAffirmativeId(kContinueId);
  Bind(wxEVT_BUTTON, &FatalErrorDialog::OnButton, this);
  Bind(wxEVT_CLOSE_WINDOW, &FatalErrorDialog::OnClose, this);
  Bind(wxEVT_PAINT, &FatalErrorDialog::OnPaint, this);
  Bind(wxEVT_SIZE, &FatalErrorDialog::OnSize, this);
  CentreOnScreen();
}

bool FatalErrorDialog::ShowsSizeGrip() const {
  return !IsIconized() && !IsMaximized();
}

void FatalErrorDialog::OnButton(wxCommandEvent& event) {
  if (event.GetId() == kContinueId) {
    EndModal(kContinueId);
  } else if (event.GetId() == kQuitId || event.GetId() == wxID_CANCEL) {
    EndModal(kQuitId);
  } else {
    event.Skip();
  }
}

void FatalErrorDialog::OnClose(wxCloseEvent&) {
  EndModal(kQuitId);
}

// The grip: three diagonal ridges in the bottom-right 15 x 15 pixels.
void FatalErrorDialog::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  if (!ShowsSizeGrip()) return;
  const wxSize size = GetClientSize();
  const int right = size.GetWidth() - 1;
  const int bottom = size.GetHeight() - 1;
  const wxPen light(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT));
  const wxPen dark(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW));
  for (int offset = 3; offset < kGripSize; offset += 4) {
    dc.SetPen(dark);
    dc.DrawLine(right - offset, bottom, right, bottom - offset);
    dc.SetPen(light);
    dc.DrawLine(right - offset - 1, bottom, right, bottom - offset - 1);
  }
}

void FatalErrorDialog::OnSize(wxSizeEvent& event) {
  Refresh();  // the grip moves with the corner
  event.Skip();
}

int ShowFatalErrorDialog(const Vek::Exception& exception) {
  if (wxTheApp == nullptr) return kNotShown;
  if (wxThread::IsMain()) return RunDialog(exception);
  // Toolkit windows belong to the window thread: the dialog runs there
  // while this thread waits for the answer.
  std::mutex lock;
  std::condition_variable answered;
  bool done = false;
  int result = kNotShown;
  wxTheApp->CallAfter([&] {
    const int answer = RunDialog(exception);
    std::lock_guard<std::mutex> guard(lock);
    result = answer;
    done = true;
    answered.notify_all();
  });
  std::unique_lock<std::mutex> guard(lock);
  answered.wait(guard, [&] { return done; });
  return result;
}

void InstallFatalErrorDialog() {
  Vek::SetFatalErrorWindow(ShowFatalErrorDialog);
}

}  // namespace NolkPatch
