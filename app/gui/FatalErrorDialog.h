// The fatal-error window: a kernel exception that escaped a thread body,
// line by line in a list box, with "Continue" and "Quit". The kernel shows
// it through the hook it exposes (Vek::SetFatalErrorWindow), from whatever
// thread the exception ended; the dialog itself always runs on the window
// thread.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <vector>

#include "KernelStandard/Exception.h"

class wxListBox;

namespace NolkPatch {

class FatalErrorDialog : public wxDialog {
 public:
  static constexpr int kListId = 1002;
  static constexpr int kContinueId = 1003;
  static constexpr int kQuitId = 1004;
  static constexpr int kGripSize = 15;

  explicit FatalErrorDialog(const std::vector<std::string>& lines);

  wxListBox* List() const { return m_list; }
  // Whether the size grip is drawn now (not while minimised or maximised).
  bool ShowsSizeGrip() const;

 private:
  void OnButton(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);

  wxListBox* m_list = nullptr;
};

// Shows the window modally (no owner) and returns 1 for quit (the quit
// button, the close box or Escape), 0 for continue, -1 when it cannot be
// shown (no application object).
int ShowFatalErrorDialog(const Vek::Exception& exception);

// Makes the dialog the kernel's fatal-error window.
void InstallFatalErrorDialog();

}  // namespace NolkPatch
