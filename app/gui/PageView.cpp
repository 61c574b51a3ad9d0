#include "app/gui/PageView.h"

#include <wx/webview.h>

#include <string>

#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr char kScrollingOff[] =
    "if (document.body) { document.body.style.overflow = 'hidden';"
    " document.body.setAttribute('scroll', 'no'); }";
constexpr char kScrollingOn[] =
    "if (document.body) { document.body.style.overflow = '';"
    " document.body.setAttribute('scroll', 'yes'); }";

bool IsBlankPage(const wxString& url) {
  return url.empty() || url == "about:blank";
}

}  // namespace

wxString PatchNotesUrl() {
  std::string overridden;
  if (OS::Current().GetEnvironment("KORVEL_PATCH_NOTES_URL", overridden) && !overridden.empty())
    return wxString::FromUTF8(overridden.c_str());
  return wxString("http://") + KORVEL_PATCH_NOTES_HOST + "/patcher/patcher.html";
}

bool PageView::Create(wxWindow* parent, int id, const wxSize& size) {
  if (!wxWebView::IsBackendAvailable(wxWebViewBackendDefault)) return false;
  m_view = wxWebView::New(parent, id, wxWebViewDefaultURLStr, wxDefaultPosition, size,
                          wxWebViewBackendDefault, wxBORDER_NONE | wxWANTS_CHARS);
  if (!m_view) return false;
  m_view->SetMinSize(size);
  m_view->EnableContextMenu(false);
  m_view->Hide();
  return true;
}

wxWindow* PageView::Window() const {
  return m_view;
}

void PageView::LoadUrl(const wxString& url, const wxString&) {
  if (!m_view) return;
  m_loadFailed = false;
  m_view->LoadURL(url);
}

void PageView::Show(bool show) {
  if (m_view) m_view->Show(show);
}

bool PageView::IsShown() const {
  return m_view && m_view->IsShown();
}

void PageView::SetBodyScrolling(bool enabled) {
  if (m_view) m_view->RunScriptAsync(enabled ? kScrollingOn : kScrollingOff);
}

void PageView::HandleNavigating(const wxWebViewEvent& event) {
  if (!IsBlankPage(event.GetURL())) m_loadFailed = false;
}

void PageView::HandleError(const wxWebViewEvent&) {
  m_loadFailed = true;
}

bool PageView::HandleLoaded(const wxWebViewEvent& event) {
  if (!m_view || m_loadFailed || IsBlankPage(event.GetURL())) return false;
  SetBodyScrolling(false);
  if (m_view->IsShown()) return false;
  m_view->Show();
  return true;
}

void PageView::HandleNewWindow(const wxWebViewEvent& event) {
  if (m_view && !event.GetURL().empty()) m_view->LoadURL(event.GetURL());
}

}  // namespace NolkPatch
