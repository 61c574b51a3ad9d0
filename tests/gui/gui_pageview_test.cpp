// The patch-notes view: hidden while its page cannot be loaded, shown
// without page scrolling once a page has loaded.
#include <stdlib.h>
#include <wx/webview.h>

#include <filesystem>
#include <fstream>

#include "gui_test_support.h"

namespace {

using gui_test::PumpUntil;

// Points the patch-notes address elsewhere for one test.
class PatchNotesUrlOverride {
 public:
  explicit PatchNotesUrlOverride(const std::string& url) { setenv("KORVEL_PATCH_NOTES_URL", url.c_str(), 1); }
  ~PatchNotesUrlOverride() { setenv("KORVEL_PATCH_NOTES_URL", "about:blank", 1); }
};

class PageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!wxWebView::IsBackendAvailable(wxWebViewBackendDefault))
      GTEST_SKIP() << "no web engine available in this environment";
    char pattern[] = "/tmp/korvel-gui-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    std::error_code ignored;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
  }
  gui_test::TestFrame& OpenFrame() {
    m_frame = new gui_test::TestFrame;
    m_frame->Show();
    // WebKit reports a failed load either as an error or as a finished
    // load that stays on the blank page; either settles the attempt.
    m_frame->Bind(
        wxEVT_WEBVIEW_NAVIGATING,
        [this](wxWebViewEvent& event) {
          if (event.GetURL() != "about:blank") m_navigated = true;
          event.Skip();
        },
        NolkPatch::PageView::kId);
    for (auto type : {wxEVT_WEBVIEW_LOADED, wxEVT_WEBVIEW_ERROR}) {
      m_frame->Bind(
          type,
          [this](wxWebViewEvent& event) {
            if (m_navigated) m_settled = true;
            event.Skip();
          },
          NolkPatch::PageView::kId);
    }
    return *m_frame;
  }

  std::filesystem::path m_folder;
  wxWeakRef<gui_test::TestFrame> m_frame;
  bool m_navigated = false;
  bool m_settled = false;
};

TEST(PatchNotesAddress, IsAPlainHttpAddressOfThePatcherPageUnlessOverridden) {
  const char* saved = getenv("KORVEL_PATCH_NOTES_URL");
  const std::string restore = saved ? saved : "";
  unsetenv("KORVEL_PATCH_NOTES_URL");
  const wxString url = NolkPatch::PatchNotesUrl();
  EXPECT_TRUE(url.StartsWith("http://")) << url;
  EXPECT_TRUE(url.EndsWith("/patcher/patcher.html")) << url;
  EXPECT_GT(url.length(), wxString("http:///patcher/patcher.html").length());
  setenv("KORVEL_PATCH_NOTES_URL", "file:///tmp/notes.html", 1);
  EXPECT_EQ(NolkPatch::PatchNotesUrl(), "file:///tmp/notes.html");
  setenv("KORVEL_PATCH_NOTES_URL", restore.c_str(), 1);
}

TEST_F(PageViewTest, UnreachableHostLeavesTheViewHiddenAndLogsNothing) {
  PatchNotesUrlOverride url("http://127.0.0.1:1/patcher/patcher.html");
  gui_test::TestFrame& frame = OpenFrame();
  ASSERT_NE(frame.Page().Window(), nullptr);
  EXPECT_EQ(frame.Page().Window()->GetId(), 501);
  EXPECT_TRUE(PumpUntil([this] { return m_settled; }, 20000)) << "the failed load never ended";
  gui_test::PumpFor(500);
  EXPECT_FALSE(frame.Page().IsShown());
  EXPECT_TRUE(frame.LogPane()->GetValue().empty());
}

TEST_F(PageViewTest, LoadedPageIsShownWithoutBodyScrolling) {
  const std::filesystem::path page = m_folder / "patcher.html";
  std::ofstream(page) << "<html><body><h3>Ombrix patch notes</h3><p>Build 35673.</p>"
                         "<div style='height:2000px'>long</div></body></html>";
  PatchNotesUrlOverride url("file://" + page.string());
  gui_test::TestFrame& frame = OpenFrame();
  ASSERT_TRUE(PumpUntil([&] { return frame.Page().IsShown(); }, 30000)) << "page never loaded";
  EXPECT_EQ(frame.Page().Window()->GetSize(), wxSize(450, 100)) << "layout gives the view its size";
  auto* view = static_cast<wxWebView*>(frame.Page().Window());
  wxString scrolling;
  EXPECT_TRUE(PumpUntil(
      [&] {
        return view->RunScript("document.body.style.overflow + '/' + document.body.getAttribute('scroll')",
                               &scrolling) &&
               scrolling == "hidden/no";
      },
      10000))
      << scrolling;
  gui_test::PumpFor(300);
  EXPECT_TRUE(gui_test::SaveScreenshot("patch-notes-shown.png"));
}

}  // namespace
