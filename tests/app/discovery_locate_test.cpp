// LocateInstallation with a scripted front end: every message it posts, the
// questions it asks and what it leaves in the settings.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <utility>

#include "KernelStandard/TextConvert.h"
#include "app/core/InstallDiscovery.h"
#include "discovery_test_support.h"
#include "patch/PatchPackage.h"
#include "tools/publisher/Packager.h"

namespace {

using NolkPatch::PatchSettings;
using Event = std::pair<int, std::wstring>;
using Events = std::vector<Event>;

const std::wstring kRequesting =
    L"Unable to determine Ombrix installation path. Requesting user to specify installation location.\n";
const std::wstring kCancelled =
    L"Unable to determine installation location. Aborted patching at user's request.";
const std::wstring kUnknownVersion = L"Unable to determine the version number of your Ombrix installation.";

// Answers the file question from a script; an exhausted script cancels.
class ScriptedFrontEnd : public NolkPatch::InstallLocatorFrontEnd {
 public:
  void EnableBrowse() override { ++browseEnabled; }
  void EnableApply() override { ++applyEnabled; }
  std::wstring ChooseGameProgram() override {
    pathsWhenAsked.push_back(PatchSettings::Get().InstallPath);
    if (answers.empty()) return std::wstring();
    std::wstring answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<std::wstring> answers;
  std::vector<std::wstring> pathsWhenAsked;
  int browseEnabled = 0;
  int applyEnabled = 0;
};

class LocateTest : public app_test::SettingsTest {
 protected:
  LocateTest()
      : m_registry("KORVEL_REGISTRY", (m_folder / "registry.reg").string()), m_language("LC_ALL", "C") {}

  void SetUp() override {
    SettingsTest::SetUp();
    m_folder.WriteFile("game/bin/Launcher.exe", "launcher of build 100");
    m_folder.WriteFile("current/bin/Launcher.exe", "launcher of build 300");
    m_folder.WriteFile("foreign/bin/Launcher.exe", "launcher of a build nobody knows");
    m_package = app_test::BuildStandalonePatch(
        m_folder, "300", {{Hash("game"), "100"}, {Hash("current"), "300"}}, {{"100", "200"}, {"200", "300"}});
  }
  void TearDown() override {
    NolkPatch::PatchPackage::Instance().Close();
    SettingsTest::TearDown();
  }

  std::string Hash(const std::string& install) const {
    std::string hash;
    EXPECT_TRUE(KorvelTools::BuildHashOfFile(m_folder.Wide(install + "/bin/Launcher.exe"), hash));
    return hash;
  }
  void Register(const std::string& install) {
    m_folder.WriteFile("registry.reg",
                       app_test::ProductRegistry(
                           {{"Main", {app_test::ProductValues("Ombrix", (m_folder / install).string())}}}));
  }
  Events Posted() {
    Events events;
    for (const app_test::RecordedEvent& event : m_target.Events())
      events.emplace_back(event.level, event.text);
    return events;
  }
  bool Locate(bool userRequested) {
    return NolkPatch::LocateInstallation(m_package, userRequested, m_frontEnd);
  }
  std::wstring Folder(const std::string& relative) const { return m_folder.Wide(relative); }

  app_test::TempFolder m_folder;
  app_test::ScopedEnv m_registry;
  app_test::ScopedEnv m_language;
  app_test::RecordingTarget m_target;
  ScriptedFrontEnd m_frontEnd;
  std::wstring m_package;
};

TEST_F(LocateTest, RegisteredInstallationThatTheChainCoversIsReady) {
  Register("game");
  PatchSettings& settings = PatchSettings::Get();
  settings.RepairMode = true;
  settings.SetDownloadMode(true);
  settings.SetTargetVersion("stale");
  ASSERT_TRUE(Locate(false));
  EXPECT_EQ(Posted(), (Events{{0, L"Ready to install from local patch file."},
                              {0, L"Current version: 100."},
                              {0, L"Target version: 300."},
                              {0, L""}}));
  EXPECT_EQ(settings.CurrentVersion(), "100");
  EXPECT_EQ(settings.TargetVersion(), "");
  EXPECT_EQ(settings.FinalVersion(), "300");
  EXPECT_FALSE(settings.RepairMode);
  EXPECT_TRUE(settings.StandaloneMode());
  EXPECT_FALSE(settings.DownloadMode());
  // At start-up the registry only identifies the build; start-up itself
  // fills the folder.
  EXPECT_EQ(settings.InstallPath, L"");
  EXPECT_EQ(m_frontEnd.browseEnabled, 1);
  EXPECT_EQ(m_frontEnd.applyEnabled, 1);
  EXPECT_TRUE(m_frontEnd.pathsWhenAsked.empty());
}

// The package is matched against the folder the run will patch: the one
// named on the command line wins over a registered one of another build.
TEST_F(LocateTest, FolderFromTheCommandLineIsTheOneExamined) {
  Register("foreign");
  PatchSettings& settings = PatchSettings::Get();
  settings.InstallPath = Folder("game");
  ASSERT_TRUE(Locate(false));
  EXPECT_EQ(settings.CurrentVersion(), "100");
  EXPECT_EQ(settings.InstallPath, Folder("game"));
  EXPECT_TRUE(m_frontEnd.pathsWhenAsked.empty());

  settings.InstallPath = Folder("current");
  EXPECT_FALSE(Locate(false));
  EXPECT_EQ(Posted().back(), (Event{2, L"The installed build does not require this patch."}));
}

// A run killed after it replaced the launcher leaves the old one as a
// backup; the installation is identified by that backup's build, which the
// next run restores. A backup of no known build is ignored.
TEST_F(LocateTest, LauncherBackupOfAnInterruptedRunIdentifiesTheBuild) {
  m_folder.WriteFile("current/bin/Launcher.exe.pbk", "launcher of build 100");
  Register("current");
  ASSERT_TRUE(Locate(false));
  EXPECT_EQ(PatchSettings::Get().CurrentVersion(), "100");

  m_folder.WriteFile("game/bin/Launcher.exe.pbk", "a stray file of no known build");
  Register("game");
  ASSERT_TRUE(Locate(false));
  EXPECT_EQ(PatchSettings::Get().CurrentVersion(), "100");
}

TEST_F(LocateTest, ProgramWithoutPackageSaysNothing) {
  m_folder.WriteFile("plain.exe", std::string(10000, 'x'));
  Register("game");
  EXPECT_FALSE(NolkPatch::LocateInstallation(Folder("plain.exe"), false, m_frontEnd));
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(m_frontEnd.browseEnabled, 0);
  EXPECT_FALSE(PatchSettings::Get().StandaloneMode());
}

TEST_F(LocateTest, DamagedPackageIsAFileError) {
  std::ofstream(m_folder / "patcher.exe", std::ios::binary | std::ios::app) << 'x';
  Register("game");
  EXPECT_FALSE(Locate(false));
  EXPECT_EQ(Posted(), (Events{{2, L"File error while reading patch data."}}));
  EXPECT_EQ(m_frontEnd.browseEnabled, 0);
}

TEST_F(LocateTest, StartupWithoutRegistryAsksTheUser) {
  m_frontEnd.answers = {Folder("game") + L"/bin/Ombrix.exe"};
  ASSERT_TRUE(Locate(false));
  const Events events = Posted();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0], (Event{2, kRequesting}));
  EXPECT_EQ(events[1].second, L"Ready to install from local patch file.");
  EXPECT_EQ(PatchSettings::Get().InstallPath, Folder("game") + L"/");
  EXPECT_EQ(m_frontEnd.pathsWhenAsked.size(), 1u);
}

TEST_F(LocateTest, BrowseAsksAtOnceWithoutTheRequestText) {
  Register("game");
  EXPECT_FALSE(Locate(true));
  EXPECT_EQ(Posted(), (Events{{2, kCancelled}}));
  EXPECT_EQ(m_frontEnd.browseEnabled, 1);
  EXPECT_EQ(m_frontEnd.pathsWhenAsked.size(), 1u);
}

TEST_F(LocateTest, RegisteredFolderWithoutLauncherAsksTheUser) {
  Register("nowhere");
  m_frontEnd.answers = {Folder("game") + L"/Ombrix.exe"};
  ASSERT_TRUE(Locate(false));
  const Events events = Posted();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0], (Event{2, kUnknownVersion}));
  EXPECT_EQ(PatchSettings::Get().InstallPath, Folder("game") + L"/");
}

TEST_F(LocateTest, InvalidPickIsStoredAndTheQuestionComesBack) {
  m_frontEnd.answers = {Folder("nowhere") + L"/Ombrix.exe"};
  EXPECT_FALSE(Locate(false));
  EXPECT_EQ(Posted(), (Events{{2, kRequesting}, {2, kUnknownVersion}, {2, kCancelled}}));
  EXPECT_EQ(PatchSettings::Get().InstallPath, Folder("nowhere") + L"/");
  EXPECT_EQ(m_frontEnd.pathsWhenAsked, (std::vector<std::wstring>{L"", Folder("nowhere") + L"/"}));
}

// A pick inside a folder named exactly "bin" lands on its parent; other
// spellings and names that merely end in "bin" are kept.
TEST_F(LocateTest, PickInBinFolderLandsOnTheInstallationRoot) {
  m_frontEnd.answers = {L"C:\\Games\\X\\bin\\Ombrix.exe", L"C:\\Games\\X\\Ombrix.exe",
                        L"C:\\Games\\X\\BIN\\Ombrix.exe", L"C:\\Robin\\Ombrix.exe",
                        L"/games/y/bin/Ombrix.exe",       L"bin\\Ombrix.exe"};
  EXPECT_FALSE(Locate(true));
  EXPECT_EQ(m_frontEnd.pathsWhenAsked,
            (std::vector<std::wstring>{L"", L"C:\\Games\\X\\", L"C:\\Games\\X\\", L"C:\\Games\\X\\BIN\\",
                                       L"C:\\Robin\\", L"/games/y/", L""}));
}

TEST_F(LocateTest, UnknownBuildShowsItsHash) {
  Register("foreign");
  EXPECT_FALSE(Locate(false));
  EXPECT_EQ(Posted(), (Events{{2, L"This patch file is not applicable to your current installation version."},
                              {0, L"(Build hash: " + NolkUtil::ToWide(Hash("foreign")) + L")\n"}}));
  EXPECT_FALSE(PatchSettings::Get().StandaloneMode());
  EXPECT_EQ(m_frontEnd.applyEnabled, 0);
}

TEST_F(LocateTest, CurrentBuildNeedsNoPatch) {
  Register("current");
  EXPECT_FALSE(Locate(false));
  EXPECT_EQ(Posted(), (Events{{2, L"The installed build does not require this patch."}}));
  EXPECT_FALSE(PatchSettings::Get().StandaloneMode());
  EXPECT_EQ(m_frontEnd.applyEnabled, 0);
}

}  // namespace
