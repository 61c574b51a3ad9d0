#include "app/gui/UserDialogs.h"

#include <wx/filedlg.h>
#include <wx/msgdlg.h>

namespace NolkPatch {

UserDialogs StandardUserDialogs() {
  UserDialogs dialogs;
  dialogs.askYesNo = [](wxWindow* owner, const wxString& text, const wxString& caption) {
    return wxMessageBox(text, caption, wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, owner);
  };
  dialogs.showMessage = [](const wxString& text, const wxString& caption) {
    wxMessageBox(text, caption, wxOK, nullptr);
  };
  dialogs.chooseFile = [](wxWindow* owner, const wxString& title, const wxString& wildcard) {
    wxFileDialog dialog(owner, title, wxEmptyString, wxEmptyString, wildcard,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
  };
  return dialogs;
}

}  // namespace NolkPatch
