// The modal dialogs of the window, replaceable so that tests answer them
// without a user: the cancel question, the message box of the worker and
// the file choice that locates the game program.
#pragma once

#include <wx/string.h>

#include <functional>

class wxWindow;

namespace NolkPatch {

struct UserDialogs {
  // A Yes/No question with No as the default; returns wxYES or wxNO.
  std::function<int(wxWindow* owner, const wxString& text, const wxString& caption)> askYesNo;
  // A box with an OK button and no owner window.
  std::function<void(const wxString& text, const wxString& caption)> showMessage;
  // An open-file dialog; the chosen path, or empty when cancelled.
  std::function<wxString(wxWindow* owner, const wxString& title, const wxString& wildcard)> chooseFile;
};

// The toolkit's dialogs.
UserDialogs StandardUserDialogs();

}  // namespace NolkPatch
