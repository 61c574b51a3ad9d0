// A whole standalone patch in the window: a package appended to a copy of
// korvel-patcher, the installation found through the registry store, Apply
// pressed through the event machinery, and the run followed to its end.
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/core/StandardRunDrivers.h"
#include "app/core/StartupSteps.h"
#include "gui_test_support.h"
#include "patch/PatchSettings.h"
#include "tools/publisher/Packager.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Files below a root, without the database the utility stand-in rebuilds.
Files TakeTree(const fs::path& root) {
  Files tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    if (relative != "assets.odx" && entry.is_regular_file()) tree[relative] = ReadFile(entry.path());
  }
  return tree;
}

// Sets an environment variable for the test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = getenv(name)) {
      m_old = old;
      m_hadOld = true;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { m_hadOld ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

 private:
  const char* m_name;
  std::string m_old;
  bool m_hadOld = false;
};

class WindowStandaloneRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel-gui-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    NolkPatch::SetLogSink(nullptr);
    NolkPatch::PatchSettings::Get().Reset();
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }

  fs::path Tree(const std::string& version) const { return m_folder / "trees" / version; }
  fs::path Install() const { return m_folder / "install"; }
  fs::path Program() const { return m_folder / "korvel-patcher"; }

  void MakeTree(const std::string& version, const Files& files) {
    fs::create_directories(Tree(version) / "bin");
    fs::copy_file(VPATCH_TOOL, Tree(version) / "bin" / "vpatchl-w32.exe");
    fs::copy_file(OMBRIXUTIL_TOOL, Tree(version) / "bin" / "OmbrixUtil.exe");
    std::string launcher;
    for (int i = 0; launcher.size() < 20000; ++i) launcher += "launcher " + version + " " + std::to_string(i);
    WriteFile(Tree(version) / "bin" / "Launcher.exe", launcher);
    for (const auto& [relative, bytes] : files) WriteFile(Tree(version) / relative, bytes);
  }

  void PackageOneStep(const std::string& from, const std::string& to) {
    const fs::path archive = m_folder / (from + "_to_" + to + ".arc");
    ASSERT_EQ(RunShell(Quoted(KORVEL_MAKE_PATCH) + " --old " + Quoted(Tree(from)) + " --new " +
                       Quoted(Tree(to)) + " --out " + Quoted(archive)),
              0);
    std::string hash;
    ASSERT_TRUE(KorvelTools::BuildHashOfFile((Tree(from) / "bin" / "Launcher.exe").wstring(), hash));
    ASSERT_EQ(RunShell(Quoted(KORVEL_PACKAGE) + " --patcher " + Quoted(KORVEL_PATCHER) + " --out " +
                       Quoted(Program()) + " --final " + to + " --build " + hash + "=" + from + " --patch " +
                       Quoted(from + ":" + to + ":" + archive.string())),
              0);
  }

  void RegisterInstall() {
    WriteFile(m_folder / "registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Ombrix]\r\n"
              "\"ProductClass\"=\"Ombrix\"\r\n"
              "\"ProductInstallPath\"=\"" +
                  Install().string() + "\"\r\n");
  }

  fs::path m_folder;
  wxWeakRef<NolkPatch::PatchMainFrame> m_frame;
};

TEST_F(WindowStandaloneRun, LargeApplyBringsTheInstallationToTheFinalVersion) {
  MakeTree("100", {{"data/forest.map", std::string(30000, 'f')}, {"data/old.dat", "removed"}});
  MakeTree("101", {{"data/forest.map", std::string(30000, 'f') + "more trees"}, {"data/new.map", "new"}});
  PackageOneStep("100", "101");
  fs::copy(Tree("100"), Install(), fs::copy_options::recursive);
  RegisterInstall();
  ScopedEnv registry("KORVEL_REGISTRY", (m_folder / "registry.reg").string());
  ScopedEnv temp("TEMP", (m_folder / "temp").string());

  NolkPatch::PatchSettings::Get().Reset();
  NolkPatch::InstallStandardRunDrivers();
  NolkPatch::SetLogSink(NolkPatch::PostPatchMessage);
  auto* frame = new NolkPatch::PatchMainFrame(nullptr, Program().wstring());
  m_frame = frame;
  NolkPatch::UserDialogs dialogs;
  std::vector<wxString> boxes;
  dialogs.askYesNo = [](wxWindow*, const wxString&, const wxString&) { return wxNO; };
  dialogs.showMessage = [&boxes](const wxString& text, const wxString&) { boxes.push_back(text); };
  dialogs.chooseFile = [](wxWindow*, const wxString&, const wxString&) { return wxString(); };
  frame->SetUserDialogs(std::move(dialogs));
  frame->Show();

  // As at start-up: the registered folder first, then the package check.
  NolkPatch::FindInstallPathIfMissing();
  ASSERT_TRUE(frame->LocateInstallation(Program().wstring(), false));
  frame->ShowInstallPath();
  frame->StopTimer();
  EXPECT_TRUE(NolkPatch::PatchSettings::Get().StandaloneMode());
  EXPECT_EQ(frame->InstallField()->GetValue(), wxString(Install().wstring()));
  EXPECT_TRUE(frame->ApplyButton()->IsEnabled());
  EXPECT_TRUE(frame->BrowseButton()->IsEnabled());

  wxCommandEvent apply(wxEVT_BUTTON, NolkPatch::MainFrame::kApplyId);
  apply.SetEventObject(frame->ApplyButton());
  frame->ApplyButton()->ProcessWindowEvent(apply);
  EXPECT_FALSE(frame->ApplyButton()->IsEnabled());
  EXPECT_FALSE(frame->BrowseButton()->IsEnabled());
  ASSERT_TRUE(gui_test::PumpUntil([&] { return frame->CancelButton()->GetLabel() == "Exit"; }, 120000))
      << frame->LogPane()->GetValue();

  const wxString log = frame->LogPane()->GetValue();
  EXPECT_TRUE(log.EndsWith("\nPatching completed.")) << log;
  EXPECT_TRUE(log.Contains("Patching from 100 to 101.")) << log;
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(TakeTree(Install()) == TakeTree(Tree("101"))) << log;
  gui_test::PumpFor(300);
  EXPECT_TRUE(gui_test::SaveScreenshot("standalone-run-finished.png"));
}

}  // namespace
