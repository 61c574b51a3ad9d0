// Whole standalone runs in the patch window, from start-up on: a package
// appended to a copy of korvel-patcher, the installation found through the
// registry store, Apply pressed through the event machinery, and the log
// read back from the window's log pane. Trees and packages are the console
// tests' own; only the program inside the package is the window program.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/core/StandardRunDrivers.h"
#include "app/core/StartupSteps.h"
#include "app/gui/StartMode.h"
#include "app/standalone_test_support.h"
#include "gui_test_support.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"
#include "patch/ProgressAnimation.h"
#include "patch/assetdb_test_support.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::TakeTree;
using standalone_test::Tree;

constexpr wchar_t kNoOperation[] = L"No valid patch operation was specified. Patching aborted.";
constexpr wchar_t kFilesInUseBox[] =
    L"One or more Ombrix-related executables are currently running. Please ensure that all instances "
    L"of Ombrix, Content Manager, OmbrixUtil and the Launcher are closed and then retry patching.|"
    L"Files In Use";

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class WindowRun : public standalone_test::StandaloneRunTest {
 protected:
  void SetUp() override { NolkPatch::PatchSettings::Get().Reset(); }
  void TearDown() override {
    if (m_frame) m_frame->Destroy();
    gui_test::ProcessIdle();
    NolkPatch::SetLogSink(nullptr);
    NolkPatch::SetPatchEngineCallbacks({});
    NolkPatch::SetAnimationFactory(nullptr);
    NolkPatch::PatchSettings::Get().Reset();
  }

  // The window program's start-up for `program`, with dialogs that record
  // their boxes and cancel the file choice.
  void StartWindow(const fs::path& program) {
    m_registry.emplace("KORVEL_REGISTRY", (m_folder / "registry.reg").string());
    m_temp.emplace("TEMP", (m_folder / "temp").string());
    NolkPatch::InstallProgressAnimationFactory();
    NolkPatch::InstallStandardRunDrivers();
    NolkPatch::FindInstallPathIfMissing();
    NolkPatch::MakeInstallPathAbsolute();
    m_frame = new NolkPatch::PatchMainFrame(nullptr, program.wstring());
    m_frame->SetUserDialogs(RecordingDialogs());
    m_frame->Show();
    NolkPatch::SetLogSink(NolkPatch::PostPatchMessage);
    NolkPatch::PatchEngineCallbacks callbacks;
    callbacks.message = NolkPatch::PostPatchMessage;
    NolkPatch::SetPatchEngineCallbacks(std::move(callbacks));
    m_frame->LocateInstallation(program.wstring(), false);
    m_frame->ShowInstallPath();
    m_frame->StopTimer();
    NolkPatch::StartSelectedMode(*m_frame);
  }

  // Presses Apply and follows the run to its end notice; the seconds taken.
  double ApplyAndWait() {
    const auto start = std::chrono::steady_clock::now();
    wxCommandEvent apply(wxEVT_BUTTON, NolkPatch::MainFrame::kApplyId);
    apply.SetEventObject(m_frame->ApplyButton());
    m_frame->ApplyButton()->ProcessWindowEvent(apply);
    EXPECT_TRUE(m_frame->WorkerRunning());
    EXPECT_FALSE(m_frame->ApplyButton()->IsEnabled());
    EXPECT_TRUE(gui_test::PumpUntil([this] { return !m_frame->WorkerRunning(); }, 120000)) << Log();
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
    gui_test::PumpFor(100);
    return taken.count();
  }

  // Waits for start-up's last line.
  void WaitForLogEnd(const std::wstring& end) {
    EXPECT_TRUE(gui_test::PumpUntil([&] { return EndsWith(Log(), end); })) << Log();
  }

  std::wstring Log() const { return m_frame->LogPane()->GetValue().ToStdWstring(); }

  void Screenshot(const std::string& name) {
    gui_test::PumpFor(300);
    EXPECT_TRUE(gui_test::SaveScreenshot(name));
  }

  wxWeakRef<NolkPatch::PatchMainFrame> m_frame;
  std::vector<std::wstring> m_boxes;  // "text|caption"

 private:
  NolkPatch::UserDialogs RecordingDialogs() {
    NolkPatch::UserDialogs dialogs;
    dialogs.askYesNo = [](wxWindow*, const wxString&, const wxString&) { return wxNO; };
    dialogs.showMessage = [this](const wxString& text, const wxString& caption) {
      m_boxes.push_back((text + "|" + caption).ToStdWstring());
    };
    dialogs.chooseFile = [](wxWindow*, const wxString&, const wxString&) { return wxString(); };
    return dialogs;
  }

  std::optional<app_test::ScopedEnv> m_registry;
  std::optional<app_test::ScopedEnv> m_temp;
};

// Packages that do not apply: start-up says why, Apply stays disabled and
// nothing is changed.
class NotApplicableWindow : public WindowRun {
 protected:
  void SetUp() override {
    WindowRun::SetUp();
    MakeTree("100", {{"data/a.dat", "a in 100"}});
    MakeTree("200", {{"data/a.dat", "a in 200"}});
    MakeTree("other", {{"data/a.dat", "someone else's build"}});
    Package("200", {"100", "200"}, {{"100", "200"}});
    RegisterInstall();
  }

  void ExpectStartUpLog(const fs::path& program, const std::wstring& expectedLog, bool browseEnabled,
                        const std::string& screenshot) {
    const Tree before = TakeTree(Install());
    StartWindow(program);
    WaitForLogEnd(kNoOperation);
    EXPECT_EQ(Log(), expectedLog);
    EXPECT_FALSE(m_frame->ApplyButton()->IsEnabled());
    EXPECT_EQ(m_frame->BrowseButton()->IsEnabled(), browseEnabled);
    EXPECT_FALSE(NolkPatch::PatchSettings::Get().StandaloneMode());
    Screenshot(screenshot);
    ExpectInstallEquals(before);
  }
};

TEST_F(NotApplicableWindow, BuildMissingFromThePackageShowsItsHash) {
  InstallCopyOf("other");
  ExpectStartUpLog(ProgramPath(),
                   L"This patch file is not applicable to your current installation version.\n(Build hash: " +
                       OS::FromUtf8(LauncherHash("other")) + L")\n\n" + kNoOperation,
                   true, "window-build-not-in-package.png");
}

TEST_F(NotApplicableWindow, CurrentBuildNeedsNoPatch) {
  InstallCopyOf("200");
  ExpectStartUpLog(ProgramPath(),
                   std::wstring(L"The installed build does not require this patch.\n") + kNoOperation, true,
                   "window-already-current.png");
}

TEST_F(NotApplicableWindow, ByteAfterThePackageIsAFileError) {
  InstallCopyOf("100");
  std::ofstream(ProgramPath(), std::ios::binary | std::ios::app) << '\0';
  ExpectStartUpLog(ProgramPath(), std::wstring(L"File error while reading patch data.\n") + kNoOperation,
                   false, "window-package-file-error.png");
}

TEST_F(NotApplicableWindow, ProgramWithoutPackageSaysOnlyThatThereIsNothingToDo) {
  InstallCopyOf("100");
  ExpectStartUpLog(PatcherToPackage(), kNoOperation, false, "window-no-package.png");
}

// 100 -> 200 -> 300, where the installation's copy of a file that only the
// second patch changes is not the one that patch was made from: the second
// patch is rolled back and version 200 stays, with the patching marker.
TEST_F(WindowRun, LargeFailureInTheSecondPatchLeavesTheFirstApplied) {
  MakeTree("100", {{"data/a.dat", "a in 100"}, {"data/late.dat", std::string(5000, 'l')}});
  MakeTree("200", {{"data/a.dat", "a in 200"}, {"data/late.dat", std::string(5000, 'l')}});
  MakeTree("300", {{"data/a.dat", "a in 300"}, {"data/late.dat", std::string(5000, 'm')}});
  Package("300", {"100"}, {{"100", "200"}, {"200", "300"}});
  InstallCopyOf("100");
  m_folder.WriteFile("install/data/late.dat", "edited by the user");
  RegisterInstall();
  StartWindow(ProgramPath());
  ASSERT_TRUE(m_frame->ApplyButton()->IsEnabled()) << Log();

  ApplyAndWait();
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Patching from 100 to 200.\n"), std::wstring::npos) << log;
  EXPECT_NE(log.find(L"Patching from 200 to 300.\n"), std::wstring::npos) << log;
  EXPECT_TRUE(EndsWith(log, L"\n\nFailed to apply the patch: 200_to_300\nPatching aborted.")) << log;
  EXPECT_EQ(m_frame->CancelButton()->GetLabel(), "Exit");
  EXPECT_TRUE(m_boxes.empty());
  Tree expected = TakeTree(TreePath("200"));
  expected["data/late.dat"] = "edited by the user";
  ExpectInstallEquals(expected);
  EXPECT_NE(app_test::ReadFile(m_folder / "registry.reg").find("\"IsPatching\"=dword:00000001"),
            std::string::npos);
  Screenshot("window-second-patch-failed.png");
}

// With a game program attached to the asset database the run gives up
// after three attempts two seconds apart, says so in the log and in a box,
// and offers Apply again; once the game has left, Apply patches.
TEST_F(WindowRun, LargeFilesInUseFailUntilTheGameHasLeft) {
  MakeTree("100", {{"data/a.dat", "a in 100"}});
  MakeTree("101", {{"data/a.dat", "a in 101"}, {"data/new.dat", "new in 101"}});
  Package("101", {"100"}, {{"100", "101"}});
  InstallCopyOf("100");
  RegisterInstall();
  const Tree before = TakeTree(Install());
  StartWindow(ProgramPath());
  ASSERT_TRUE(m_frame->ApplyButton()->IsEnabled()) << Log();

  assetdbtest::StandInGame game;
  ASSERT_TRUE(game.Start(Install().string()));
  const double seconds = ApplyAndWait();
  EXPECT_GE(seconds, 4.0);
  EXPECT_LE(seconds, 20.0);
  EXPECT_TRUE(EndsWith(Log(), L"\n\nUnable to patch - files in use.\nPatching aborted.")) << Log();
  EXPECT_EQ(m_boxes, std::vector<std::wstring>{kFilesInUseBox});
  EXPECT_TRUE(m_frame->ApplyButton()->IsEnabled());
  EXPECT_FALSE(m_frame->BrowseButton()->IsEnabled());  // only a start moves it with Apply
  Screenshot("window-files-in-use.png");
  // The game was left alone and leaves cleanly; its ready file goes with it.
  EXPECT_EQ(game.Leave(), 0);
  fs::remove(Install() / "standin-ready");
  ExpectInstallEquals(before);

  const std::size_t firstRunEnd = Log().size();
  ApplyAndWait();
  const std::wstring secondRun = Log().substr(firstRunEnd);
  EXPECT_NE(secondRun.find(L"\nPatching from 100 to 101.\n"), std::wstring::npos) << secondRun;
  EXPECT_EQ(secondRun.find(L"files in use"), std::wstring::npos) << secondRun;
  EXPECT_TRUE(EndsWith(secondRun, L"\nPatching completed.")) << secondRun;
  EXPECT_EQ(m_boxes.size(), 1u);
  ExpectInstallEquals(TakeTree(TreePath("101")));
  Screenshot("window-files-in-use-retried.png");
}

}  // namespace
