// The patch-notes page at the top of the window: an embedded web view
// (WebKitGTK on Linux) that stays hidden until its page has loaded, has no
// context menu and no page scrolling, and keeps every navigation inside
// itself. Without a usable web engine nothing is created and the window
// works the same.
#pragma once

#include <wx/string.h>
#include <wx/window.h>

class wxWebView;
class wxWebViewEvent;

namespace NolkPatch {

// "http://<build-time host>/patcher/patcher.html", or the environment
// variable KORVEL_PATCH_NOTES_URL when it is set.
wxString PatchNotesUrl();

class PageView {
 public:
  static constexpr int kId = 501;

  // Creates the hidden view as a child of `parent`; false, with nothing
  // created, when no web engine is available.
  bool Create(wxWindow* parent, int id, const wxSize& size);
  // The view's window; null when it was not created.
  wxWindow* Window() const;

  // Starts loading; a target frame name is not supported by the engine
  // and is ignored.
  void LoadUrl(const wxString& url, const wxString& target = wxEmptyString);
  void Show(bool show);
  bool IsShown() const;
  // Turns the page body's scrolling off (false) or back on (true).
  void SetBodyScrolling(bool enabled);

  // Event handling for the window: a load that ends without an error
  // shows the view and turns scrolling off; a failed load leaves it
  // hidden; links that would open a new window open in the view.
  void HandleNavigating(const wxWebViewEvent& event);
  void HandleError(const wxWebViewEvent& event);
  // True when the view was shown by this event.
  bool HandleLoaded(const wxWebViewEvent& event);
  void HandleNewWindow(const wxWebViewEvent& event);

 private:
  wxWebView* m_view = nullptr;
  bool m_loadFailed = false;
};

}  // namespace NolkPatch
