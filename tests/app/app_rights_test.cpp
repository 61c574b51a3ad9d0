// Write access, the elevated relaunch through pkexec and the on-exit
// program, against a private registry store and real child processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "app/core/Rights.h"
#include "app_test_support.h"

namespace {

using app_test::ScopedEnv;
using app_test::TempFolder;
using NolkPatch::AppSwitches;

constexpr wchar_t kProductKey[] = L"Software\\Korvel\\Products\\OmbrixSimulator";

bool WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return std::filesystem::exists(path);
}

OS::FaultRule Fault(const std::string& operation, const std::string& path, int error) {
  OS::FaultRule rule;
  rule.operation = operation;
  rule.pathContains = path;
  rule.error = error;
  return rule;
}

class LogRecorder : public NolkSystemLogObserver {
 public:
  LogRecorder() { RegisterSystemLogObserver(this); }
  ~LogRecorder() override { UnregisterSystemLogObserver(this); }
  void OnLogText(const std::wstring& text) override {
    std::lock_guard lock(m_mutex);
    m_text += text;
  }
  std::wstring Text() {
    std::lock_guard lock(m_mutex);
    return m_text;
  }

 private:
  std::mutex m_mutex;
  std::wstring m_text;
};

class RightsTest : public app_test::SettingsTest {
 protected:
  RightsTest()
      : m_registry("KORVEL_REGISTRY", (m_folder / "store/registry.reg").string()),
        m_temp("TEMP", (m_folder / "temp/sub").string()) {
    std::filesystem::create_directories(m_folder / "store");
    std::filesystem::create_directories(m_folder / "game");
  }
  // A store that names the product (so the run would set its marker there)
  // but may not be written.
  void MakeStoreReadOnly() {
    OS::RegistryStore::Default().CreateKey(kProductKey);
    chmod((m_folder / "store").c_str(), 0555);
    chmod((m_folder / "store/registry.reg").c_str(), 0444);
  }
  std::wstring Game() const { return m_folder.Wide("game"); }

  TempFolder m_folder;
  ScopedEnv m_registry;
  ScopedEnv m_temp;
};

TEST_F(RightsTest, WriteTestMakesTheTempFolderButNoStore) {
  EXPECT_TRUE(NolkPatch::CanWriteInstallation(Game()));
  EXPECT_TRUE(std::filesystem::is_directory(m_folder / "temp/sub"));
  EXPECT_FALSE(std::filesystem::exists(m_folder / "store/registry.reg"));
  EXPECT_FALSE(std::filesystem::exists(m_folder / "store/registry.reg.lock"));
}

TEST_F(RightsTest, ReadOnlyStoreMeansNoRightsWhenItNamesTheProduct) {
  MakeStoreReadOnly();
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
}

// The run writes nothing to a store without the product key, so a store
// that may not be written does not matter then.
TEST_F(RightsTest, ReadOnlyStoreWithoutTheProductIsNoObstacle) {
  OS::RegistryStore::Default().CreateKey(L"Software\\Korvel");
  chmod((m_folder / "store").c_str(), 0555);
  chmod((m_folder / "store/registry.reg").c_str(), 0444);
  EXPECT_TRUE(NolkPatch::CanWriteInstallation(Game()));
}

TEST_F(RightsTest, StoreThatIsNotARegistryFileMeansNoRights) {
  m_folder.WriteFile("store/registry.reg", "not a registry export");
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
  EXPECT_EQ(app_test::ReadFile(m_folder / "store/registry.reg"), "not a registry export");
}

// The folders are refused through the platform layer: root, which runs
// these tests, may write everywhere.
TEST_F(RightsTest, InstallationAndBinFolderMustBeWritable) {
  {
    OS::ScopedFaults faults;
    faults.Add(Fault("CanWriteFolder", "/game", 5));
    EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));  // no bin folder: the root is refused
  }
  std::filesystem::create_directories(m_folder / "game/bin");
  EXPECT_TRUE(NolkPatch::CanWriteInstallation(Game()));
  OS::ScopedFaults faults;
  faults.Add(Fault("CanWriteFolder", "/game/bin", 5));
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
}

TEST_F(RightsTest, TemporaryRootMustBeWritable) {
  OS::ScopedFaults faults;
  faults.Add(Fault("CanWriteFolder", "temp/sub", 5));
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
}

TEST_F(RightsTest, TempFolderThatCannotBeMadeMeansNoRights) {
  m_folder.WriteFile("blocker", "x");
  ScopedEnv temp("TEMP", (m_folder / "blocker/temp").string());
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
}

TEST_F(RightsTest, MainExecutableMustOpenForWritingAndKeepsItsBytes) {
  m_folder.WriteFile("game/bin/Ombrix.exe", "MZ game bytes");
  EXPECT_TRUE(NolkPatch::CanWriteInstallation(Game()));
  EXPECT_EQ(app_test::ReadFile(m_folder / "game/bin/Ombrix.exe"), "MZ game bytes");

  OS::ScopedFaults faults;
  faults.Add(Fault("OpenStream", "Ombrix.exe", 32));
  EXPECT_FALSE(NolkPatch::CanWriteInstallation(Game()));
}

TEST_F(RightsTest, OnExitProgramIsStarted) {
  const std::filesystem::path marker = m_folder / "marker";
  AppSwitches switches;
  switches.onExitGiven = true;
  switches.onExitCommand = L"/bin/sh -c \"echo started > '" + marker.wstring() + L"'\"";
  NolkPatch::LaunchOnExitProgram(switches);
  ASSERT_TRUE(WaitForFile(marker));
  EXPECT_EQ(app_test::ReadFile(marker), "started\n");
}

TEST_F(RightsTest, OnExitProgramNeedsFlagAndCommand) {
  const std::filesystem::path marker = m_folder / "marker";
  AppSwitches switches;
  switches.onExitCommand = L"/bin/sh -c \"touch '" + marker.wstring() + L"'\"";
  NolkPatch::LaunchOnExitProgram(switches);  // flag not set
  switches.onExitGiven = true;
  switches.onExitCommand.clear();
  NolkPatch::LaunchOnExitProgram(switches);  // empty command
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(RightsTest, OnExitProgramThatCannotStartIsLogged) {
  LogRecorder log;
  AppSwitches switches{.onExitGiven = true, .onExitCommand = m_folder.Wide("no-such-program")};
  NolkPatch::LaunchOnExitProgram(switches);
  EXPECT_NE(log.Text().find(L"Error creating process, code: 2"), std::wstring::npos)
      << OS::ToUtf8(log.Text());
}

class RelaunchTest : public RightsTest {
 protected:
  // A stand-in pkexec on PATH that records its arguments, one a line, and
  // exits with the given code.
  void InstallFakePkexec(int exitCode) {
    m_folder.WriteFile("bin/pkexec", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" +
                                         (m_folder / "pkexec-args").string() + "'\nexit " +
                                         std::to_string(exitCode) + "\n");
    chmod((m_folder / "bin/pkexec").c_str(), 0755);
    m_path.emplace("PATH", (m_folder / "bin").string() + ":/usr/bin:/bin");
  }
  bool Relaunch() {
    return NolkPatch::RelaunchElevated(L"/opt/korvel/korvel-patcher", m_switches,
                                       [this](const std::wstring& text, const std::wstring& caption) {
                                         m_boxes.push_back(caption + L"|" + text);
                                       });
  }
  std::optional<ScopedEnv> m_path;
  AppSwitches m_switches;
  std::vector<std::wstring> m_boxes;
};

TEST_F(RelaunchTest, WritableInstallationNeedsNoRelaunch) {
  InstallFakePkexec(0);
  EXPECT_FALSE(Relaunch());
  EXPECT_TRUE(m_boxes.empty());
  EXPECT_FALSE(std::filesystem::exists(m_folder / "pkexec-args"));
}

TEST_F(RelaunchTest, StartsTheProgramThroughPkexecWithTheRelaunchArguments) {
  InstallFakePkexec(0);
  MakeStoreReadOnly();
  NolkPatch::PatchSettings::Get().SetCurrentVersion("100");
  NolkPatch::PatchSettings::Get().InstallPath = L"/games/Ombrix Sim";
  EXPECT_TRUE(Relaunch());
  EXPECT_TRUE(m_boxes.empty());
  EXPECT_EQ(app_test::ReadFile(m_folder / "pkexec-args"),
            "/opt/korvel/korvel-patcher\n--admin\n--final=\n100\n/games/Ombrix Sim\n");
}

TEST_F(RelaunchTest, RefusedElevationShowsTheBoxAndStartsTheOnExitProgram) {
  InstallFakePkexec(126);
  MakeStoreReadOnly();
  const std::filesystem::path marker = m_folder / "onexit";
  m_switches.onExitGiven = true;
  m_switches.onExitCommand = L"/bin/sh -c \"touch '" + marker.wstring() + L"'\"";
  EXPECT_TRUE(Relaunch());
  ASSERT_EQ(m_boxes.size(), 1u);
  EXPECT_EQ(m_boxes[0].substr(0, m_boxes[0].find(L'|')), L"Requires Administrator Privileges");
  EXPECT_TRUE(WaitForFile(marker));
}

TEST_F(RelaunchTest, MissingPkexecCountsAsRefused) {
  MakeStoreReadOnly();
  OS::ScopedFaults faults;
  faults.Add(Fault("FindProgram", "", 2));
  EXPECT_TRUE(Relaunch());
  EXPECT_EQ(m_boxes.size(), 1u);
}

}  // namespace
