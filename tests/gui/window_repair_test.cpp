// Repair mode in the window: the run starts at once, against a real
// korvel-repair-server on loopback serving a reference tree, and the damaged
// installation ends equal to the reference. Screenshots are taken while the
// segments arrive and when the run has finished.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/core/StandardRunDrivers.h"
#include "app/gui/StartMode.h"
#include "app/standalone_test_support.h"
#include "gui_test_support.h"
#include "patch/PatchSettings.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using standalone_test::NoiseBytes;

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

Files TakeTree(const fs::path& root) {
  Files tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    if (relative != "repair.cks" && entry.is_regular_file())
      tree[relative] = app_test::ReadFile(entry.path());
  }
  return tree;
}

class WindowRepairRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel-gui-repair-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    StopServer();
    for (const char* name : {"KORVEL_REPAIR_SERVER", "KORVEL_REGISTRY", "TEMP"}) unsetenv(name);
    NolkPatch::SetLogSink(nullptr);
    NolkPatch::PatchSettings::Get().Reset();
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  // The server on a port of its choosing; false when it did not come up.
  bool StartServer(const fs::path& reference) {
    const fs::path portFile = m_folder / "port";
    m_server = fork();
    if (m_server == 0) {
      const std::string log = (m_folder / "server.log").string();
      freopen(log.c_str(), "w", stdout);
      freopen(log.c_str(), "a", stderr);
      execl(KORVEL_REPAIR_SERVER, KORVEL_REPAIR_SERVER, "--root", reference.c_str(), "--port", "0",
            "--port-file", portFile.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!gui_test::PumpUntil([&] { return !app_test::ReadFile(portFile).empty(); }, 20000)) return false;
    m_port = app_test::ReadFile(portFile);
    while (!m_port.empty() && (m_port.back() == '\n' || m_port.back() == '\r')) m_port.pop_back();
    return !m_port.empty();
  }

  void StopServer() {
    if (m_server <= 0) return;
    kill(m_server, SIGTERM);
    int status = 0;
    waitpid(m_server, &status, 0);
    m_server = -1;
  }

  fs::path m_folder;
  pid_t m_server = -1;
  std::string m_port;
  wxWeakRef<NolkPatch::PatchMainFrame> m_frame;
};

TEST_F(WindowRepairRun, DamagedInstallationIsRepairedInTheWindow) {
  const fs::path reference = m_folder / "reference";
  const fs::path install = m_folder / "install";
  const Files files = {{"bin/Launcher.exe", NoiseBytes(300000, 1)},
                       {"data/terrain.dat", NoiseBytes(9u << 20, 2)},  // three segments
                       {"data/maps/forest.map", NoiseBytes(200000, 3)},
                       {"readme.txt", "the reference"}};
  for (const auto& [relative, bytes] : files) {
    WriteFile(reference / relative, bytes);
    WriteFile(install / relative, bytes);
  }
  std::string damaged = files.at("data/terrain.dat");
  damaged[5u << 20] ^= 0x55;
  WriteFile(install / "data/terrain.dat", damaged);
  fs::remove(install / "data/maps/forest.map");
  WriteFile(install / "readme.txt", "changed by the player");
  WriteFile(install / "stray.tmp", "not in the reference");
  ASSERT_TRUE(StartServer(reference)) << app_test::ReadFile(m_folder / "server.log");

  setenv("KORVEL_REPAIR_SERVER", ("127.0.0.1:" + m_port).c_str(), 1);
  setenv("KORVEL_REGISTRY", (m_folder / "registry.reg").c_str(), 1);
  setenv("TEMP", (m_folder / "temp").c_str(), 1);
  NolkPatch::PatchSettings& settings = NolkPatch::PatchSettings::Get();
  settings.Reset();
  settings.RepairMode = true;
  settings.InstallPath = install.wstring();
  auto* frame = gui_test::OpenWindowAndStart(fs::path(KORVEL_PATCHER).wstring());
  m_frame = frame;
  const bool receiving = gui_test::PumpUntil(
      [&] { return frame->LogPane()->GetValue().Contains("Receiving updated files."); }, 60000);
  EXPECT_TRUE(receiving) << frame->LogPane()->GetValue();
  EXPECT_TRUE(gui_test::SaveScreenshot("repair-receiving.png"));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return frame->CancelButton()->GetLabel() == "Exit"; }, 120000))
      << frame->LogPane()->GetValue();

  const wxString log = frame->LogPane()->GetValue();
  EXPECT_TRUE(log.Contains("Scanning installed files. This may take a while.")) << log;
  EXPECT_TRUE(log.Contains("segments updated.)")) << log;
  EXPECT_TRUE(log.EndsWith("\nPatching completed.")) << log;
  EXPECT_TRUE(TakeTree(install) == TakeTree(reference)) << log;
  gui_test::PumpFor(300);
  EXPECT_TRUE(gui_test::SaveScreenshot("repair-finished.png"));
}

}  // namespace
