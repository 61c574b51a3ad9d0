// The worker's run with stand-in drivers, against a private registry store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "KernelStandard/platform/RegistryStore.h"
#include "app/core/PatchJob.h"
#include "app/core/RunDrivers.h"
#include "app_test_support.h"
#include "resources/MessageText.h"

namespace {

using app_test::ScopedEnv;
using NolkPatch::PatchSettings;

class FakeHost : public NolkPatch::PatchJobHost {
 public:
  void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override {
    boxes.push_back(caption + L"|" + text);
  }
  void EnableApply(bool enable) override { applyCalls.push_back(enable); }
  bool CancelRequested() override { return cancel; }

  std::vector<std::wstring> boxes;
  std::vector<bool> applyCalls;
  bool cancel = false;
};

class PatchJobTest : public app_test::SettingsTest {
 protected:
  PatchJobTest()
      : m_registry("KORVEL_REGISTRY", (m_folder / "registry.reg").string()),
        m_temp("TEMP", (m_folder / "temp").string()) {}
  void SetUp() override {
    SettingsTest::SetUp();
    m_savedHooks = NolkPatch::GetRunDriverHooks();
    NolkPatch::RunDriverHooks hooks;
    hooks.releaseDatabase = [this] { m_releasedAfter = m_target.Events().size(); };
    NolkPatch::SetRunDriverHooks(hooks);
    PatchSettings::Get().InstallPath = m_folder.Wide("game");
  }
  void TearDown() override {
    NolkPatch::SetRunDriverHooks(m_savedHooks);
    NolkPatch::SetMessageLanguage(0);
    SettingsTest::TearDown();
  }
  NolkPatch::RunDriverHooks& Hooks() { return NolkPatch::GetRunDriverHooks(); }
  bool Run() { return NolkPatch::RunPatchJob(m_host); }
  std::vector<std::wstring> Texts() { return m_target.Texts(); }

  app_test::TempFolder m_folder;
  ScopedEnv m_registry;
  ScopedEnv m_temp;
  app_test::RecordingTarget m_target;
  FakeHost m_host;
  NolkPatch::RunDriverHooks m_savedHooks;
  std::size_t m_releasedAfter = 0;
};

TEST_F(PatchJobTest, SuccessfulStandaloneRunCompletesThenReleasesThenEnds) {
  PatchSettings::Get().SetStandaloneMode(true);
  unsigned askedMegabytes = 0;
  Hooks().checkDiskSpace = [&](unsigned megabytes) {
    askedMegabytes = megabytes;
    return true;
  };
  m_host.cancel = true;
  bool sawCancel = false;
  Hooks().runStandalone = [&](NolkPatch::PatchRunContext& context) {
    sawCancel = context.cancelRequested();
    context.task.Report(0, std::string("applied 100_to_200"));
    return true;
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(askedMegabytes, 4096u);
  EXPECT_TRUE(sawCancel);
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"applied 100_to_200", L"Patching completed.", L"<done>"}));
  EXPECT_EQ(m_releasedAfter, 2u);  // after the completion line, before the end notice
  EXPECT_EQ(NolkPatch::GetMessageLanguage(), 9);
  EXPECT_TRUE(m_host.boxes.empty());
}

TEST_F(PatchJobTest, FilesInUseReenableApplyAndAbort) {
  PatchSettings::Get().SetStandaloneMode(true);
  bool driverRan = false;
  Hooks().filesNotInUse = [] { return false; };
  Hooks().runStandalone = [&](NolkPatch::PatchRunContext&) { return driverRan = true; };
  EXPECT_FALSE(Run());
  EXPECT_FALSE(driverRan);
  EXPECT_EQ(Texts(),
            (std::vector<std::wstring>{L"Unable to patch - files in use.", L"Patching aborted.", L"<done>"}));
  EXPECT_EQ(m_target.Events()[0].level, 2);
  ASSERT_EQ(m_host.boxes.size(), 1u);
  EXPECT_EQ(m_host.boxes[0], L"Files In Use|" + NolkPatch::LoadMessageText(158));
  EXPECT_EQ(m_host.applyCalls, std::vector<bool>{true});
  EXPECT_EQ(m_releasedAfter, 2u);
}

TEST_F(PatchJobTest, FailedDiskCheckNamesTheSizeAndAborts) {
  PatchSettings::Get().SetDownloadMode(true);
  bool driverRan = false;
  Hooks().checkDiskSpace = [](unsigned) { return false; };
  Hooks().runDownload = [&](NolkPatch::PatchRunContext&) { return driverRan = true; };
  EXPECT_FALSE(Run());
  EXPECT_FALSE(driverRan);
  EXPECT_EQ(Texts(),
            (std::vector<std::wstring>{L"Insufficient disk space available for patching. Please ensure "
                                       L"that at least 4096MB are available.",
                                       L"Patching aborted.", L"<done>"}));
}

TEST_F(PatchJobTest, MissingDriverIsAClearErrorNotASuccess) {
  PatchSettings::Get().SetStandaloneMode(true);
  EXPECT_FALSE(Run());
  const auto events = m_target.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].level, 2);
  EXPECT_EQ(events[0].text,
            L"This build of the patcher cannot run this operation (standalone patch driver missing).");
  EXPECT_EQ(events[1].text, L"Patching aborted.");
}

TEST_F(PatchJobTest, RepairModeSkipsTheDiskCheck) {
  PatchSettings::Get().RepairMode = true;
  PatchSettings::Get().SetStandaloneMode(true);
  bool diskChecked = false;
  Hooks().checkDiskSpace = [&](unsigned) { return !(diskChecked = true); };
  Hooks().runRepair = [](NolkPatch::PatchRunContext&) { return false; };
  EXPECT_FALSE(Run());
  EXPECT_FALSE(diskChecked);
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"Patching aborted.", L"<done>"}));
}

TEST_F(PatchJobTest, WithoutModeTheRunAborts) {
  EXPECT_FALSE(Run());
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"Patching aborted.", L"<done>"}));
}

TEST_F(PatchJobTest, WithoutWriteAccessTheAdminBoxIsShownAndApplyStaysOff) {
  NolkPatch::SetMessageLanguage(1031);  // the worker switches to English first
  // The store is tested where the run would write "IsPatching": under the
  // product key.
  OS::RegistryStore::Default().CreateKey(L"Software\\Korvel\\Products\\OmbrixSimulator");
  chmod(m_folder.Path().c_str(), 0555);
  PatchSettings::Get().SetStandaloneMode(true);
  Hooks().runStandalone = [](NolkPatch::PatchRunContext&) { return true; };
  const bool completed = Run();
  chmod(m_folder.Path().c_str(), 0755);
  EXPECT_FALSE(completed);
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"Patching requires Administrator privileges.",
                                                L"Patching aborted.", L"<done>"}));
  ASSERT_EQ(m_host.boxes.size(), 1u);
  EXPECT_EQ(m_host.boxes[0].substr(0, m_host.boxes[0].find(L'|')), L"Requires Administrator Privileges");
  EXPECT_TRUE(m_host.applyCalls.empty());
}

TEST_F(PatchJobTest, PatchThreadRunsTheJobAndReportsThroughItself) {
  PatchSettings::Get().SetDownloadMode(true);
  Hooks().runDownload = [](NolkPatch::PatchRunContext& context) {
    context.task.Report(1, std::wstring(L"mirror slow"));
    return true;
  };
  NolkPatch::PatchThread thread(m_host);
  ASSERT_EQ(thread.Run(), wxTHREAD_NO_ERROR);
  thread.Wait();
  EXPECT_TRUE(thread.Succeeded());
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"mirror slow", L"Patching completed.", L"<done>"}));
}

}  // namespace
