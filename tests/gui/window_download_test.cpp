// Download mode in the window: the run starts at once, fetches the list
// and a two-patch chain from a real nginx on loopback (held to 2 MiB/s, so
// the download can be watched), and ends with the installation equal to
// the final tree. Screenshots are taken while the first archive arrives
// and when the run has finished.
#include <stdlib.h>

#include <filesystem>

#include "app/core/StandardRunDrivers.h"
#include "app/download_test_support.h"
#include "app/gui/StartMode.h"
#include "gui_test_support.h"
#include "patch/PatchSettings.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::TakeTree;

class WindowDownloadRun : public download_test::DownloadRunTest {
 protected:
  void SetUp() override {
    NolkPatch::PatchSettings::Get().Reset();
    SetUpTrees(6u << 20);
  }
  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    for (const char* name : {"KORVEL_REGISTRY", "TEMP"}) unsetenv(name);
    NolkPatch::SetLogSink(nullptr);
    NolkPatch::PatchSettings::Get().Reset();
  }

  wxWeakRef<NolkPatch::PatchMainFrame> m_frame;
};

TEST_F(WindowDownloadRun, ChainIsDownloadedAndAppliedInTheWindow) {
  InetTest::NginxServer server;
  server.SetServerDirectives("limit_rate 2m;");
  ASSERT_TRUE(server.Start(Served().string()));
  InetTest::WriteFile((Served() / "patches.txt").string(),
                      Record("100", "200", "100_to_200.zip") + Record("200", "300", "200_to_300.zip"));

  setenv("KORVEL_REGISTRY", (m_folder / "registry.reg").c_str(), 1);
  setenv("TEMP", (m_folder / "temp").c_str(), 1);
  NolkPatch::PatchSettings& settings = NolkPatch::PatchSettings::Get();
  settings.InstallPath = Install().wstring();
  settings.SetCurrentVersion("100");
  settings.SetFinalVersion("300");
  settings.SetDownloadMode(true);
  settings.PatchServers = {fs::path(server.BaseUrl()).wstring()};
  auto* frame = gui_test::OpenWindowAndStart(fs::path(KORVEL_PATCHER).wstring());
  m_frame = frame;
  // Part of the first archive is in: the gauge follows the bytes.
  const bool downloading = gui_test::PumpUntil(
      [&] {
        const wxGauge* gauge = frame->Gauge();
        return frame->LogPane()->GetValue().Contains("Downloading patch file...") && gauge->GetValue() > 0 &&
               gauge->GetValue() < gauge->GetRange() / 2;
      },
      60000);
  EXPECT_TRUE(downloading) << frame->LogPane()->GetValue();
  // Painted, and still within the first archive when the shot is taken.
  frame->Refresh();
  frame->Update();
  gui_test::PumpFor(400);
  EXPECT_TRUE(gui_test::SaveScreenshot("download-receiving.png"));
  EXPECT_FALSE(frame->LogPane()->GetValue().Contains("Unpacking patch file..."))
      << frame->LogPane()->GetValue();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return frame->CancelButton()->GetLabel() == "Exit"; }, 120000))
      << frame->LogPane()->GetValue();

  const wxString log = frame->LogPane()->GetValue();
  EXPECT_TRUE(log.Contains("Searching for patches...")) << log;
  EXPECT_TRUE(log.Contains("Client is at the final version: 300")) << log;
  EXPECT_TRUE(log.EndsWith("\nPatching completed.")) << log;
  ExpectInstallEquals(TakeTree(TreePath("300")));
  gui_test::PumpFor(300);
  EXPECT_TRUE(gui_test::SaveScreenshot("download-finished.png"));
}

}  // namespace
