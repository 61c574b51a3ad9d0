// The command line through the real toolkit parser and the option table.
#include <gtest/gtest.h>

#include "KernelStandard/platform/Platform.h"
#include "app/core/CommandLine.h"
#include "app/core/OptionTable.h"
#include "app/core/Rights.h"
#include "app_test_support.h"
#include "patch/PatchSettings.h"

namespace {

using NolkPatch::AppSwitches;
using NolkPatch::PatchSettings;

std::vector<wxString> Args(std::initializer_list<const wchar_t*> texts) {
  std::vector<wxString> arguments{wxString(L"korvel-patcher")};
  for (const wchar_t* text : texts) arguments.emplace_back(text);
  return arguments;
}

std::vector<std::pair<int, std::wstring>> g_sinkCalls;
void RecordSink(int level, const std::wstring& text) {
  g_sinkCalls.emplace_back(level, text);
}

class CommandLineTest : public app_test::SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    g_sinkCalls.clear();
    NolkPatch::SetLogSink(RecordSink);
  }
  void TearDown() override {
    NolkPatch::SetLogSink(nullptr);
    SettingsTest::TearDown();
  }
  bool Parse(std::initializer_list<const wchar_t*> texts) {
    return NolkPatch::ParseCommandLine(Args(texts), m_switches);
  }
  PatchSettings& Settings() { return PatchSettings::Get(); }
  AppSwitches m_switches;
  app_test::TempFolder m_folder;
};

TEST(OptionTableTest, HasNineRowsAndEndMarkerWithoutAutomaticHelp) {
  NolkPatch::OptionTable table;
  const wxCmdLineEntryDesc* rows = table.Entries();
  const char* expectedLong[] = {"help",  "admin",  "current", "list",  "server",
                                "final", "target", "repair",  "onexit"};
  for (int i = 0; i < 9; ++i) {
    EXPECT_STREQ(rows[i].longName, expectedLong[i]);
    EXPECT_EQ(rows[i].flags & wxCMD_LINE_OPTION_HELP, 0);
    EXPECT_GT(std::string(rows[i].description).size(), 0u) << rows[i].longName;
  }
  EXPECT_EQ(rows[9].kind, wxCMD_LINE_NONE);
}

TEST_F(CommandLineTest, TwoParametersFillVersionAndFolder) {
  ASSERT_TRUE(Parse({L"--final=900", L"100", L"/games/Ombrix"}));
  EXPECT_EQ(Settings().CurrentVersion(), "100");
  EXPECT_EQ(Settings().FinalVersion(), "900");
  EXPECT_EQ(Settings().InstallPath, L"/games/Ombrix");
  EXPECT_FALSE(Settings().DownloadMode());
  EXPECT_FALSE(m_switches.syntaxError);
}

TEST_F(CommandLineTest, ServerWithOneParameterIsIgnoredButEarlierOptionsStand) {
  EXPECT_FALSE(Parse({L"--server=ftp.example", L"-a", L"-r", L"--final=7", L"--onexit=launcher x", L"100"}));
  EXPECT_TRUE(Settings().PatchServers.empty());
  EXPECT_FALSE(Settings().DownloadMode());
  EXPECT_FALSE(m_switches.adminSwitch);
  EXPECT_TRUE(Settings().RepairMode);
  EXPECT_EQ(Settings().FinalVersion(), "7");
  EXPECT_TRUE(m_switches.onExitGiven);
  EXPECT_EQ(m_switches.onExitCommand, L"launcher x");
}

TEST_F(CommandLineTest, ServerValueIsOneEntryAndSelectsDownloadMode) {
  Settings().SetStandaloneMode(true);
  ASSERT_TRUE(Parse({L"--server=a.example;b.example", L"-a", L"1", L"/g"}));
  ASSERT_EQ(Settings().PatchServers.size(), 1u);
  EXPECT_EQ(Settings().PatchServers[0], L"a.example;b.example");
  EXPECT_TRUE(Settings().DownloadMode());
  EXPECT_FALSE(Settings().StandaloneMode());
  EXPECT_TRUE(m_switches.adminSwitch);
}

// Every server is kept, with or without a final line end; only an empty
// last line is dropped.
TEST_F(CommandLineTest, ListFileGivesEveryServerLine) {
  for (const char* text : {"ftp://one\nftp://two\nftp://three\n", "ftp://one\nftp://two\nftp://three",
                           "ftp://one\nftp://two\nftp://three\n\n"}) {
    SCOPED_TRACE(text);
    PatchSettings::Get().Reset();
    m_folder.WriteFile("servers.txt", text);
    const std::wstring list = L"--list=" + m_folder.Wide("servers.txt");
    ASSERT_TRUE(Parse({list.c_str(), L"1", L"/g"}));
    EXPECT_EQ(Settings().PatchServers,
              (std::vector<std::wstring>{L"ftp://one", L"ftp://two", L"ftp://three"}));
    EXPECT_TRUE(Settings().DownloadMode());
    EXPECT_TRUE(g_sinkCalls.empty());
  }
}

TEST_F(CommandLineTest, ListFailuresReportText136WithTheFileName) {
  m_folder.WriteFile("one.txt", "\n");  // no server in it
  const std::wstring oneLine = m_folder.Wide("one.txt");
  const std::wstring missing = m_folder.Wide("missing.txt");
  for (const std::wstring& file : {oneLine, missing}) {
    SCOPED_TRACE(OS::ToUtf8(file));
    PatchSettings::Get().Reset();
    g_sinkCalls.clear();
    const std::wstring option = L"--list=" + file;
    ASSERT_TRUE(Parse({option.c_str(), L"1", L"/g"}));
    EXPECT_TRUE(Settings().PatchServers.empty());
    EXPECT_FALSE(Settings().DownloadMode());
    ASSERT_EQ(g_sinkCalls.size(), 1u);
    EXPECT_EQ(g_sinkCalls[0].first, 2);
    EXPECT_EQ(g_sinkCalls[0].second, L"Failed to read list of servers from " + file);
  }
}

TEST_F(CommandLineTest, ServerAndListAppendInThatOrder) {
  m_folder.WriteFile("servers.txt", "ftp://list1\nlast\n");
  const std::wstring list = L"--list=" + m_folder.Wide("servers.txt");
  ASSERT_TRUE(Parse({list.c_str(), L"--server=ftp://direct", L"1", L"/g"}));
  EXPECT_EQ(Settings().PatchServers, (std::vector<std::wstring>{L"ftp://direct", L"ftp://list1", L"last"}));
}

TEST_F(CommandLineTest, HelpShowsUsageAndParsingGoesOn) {
  ASSERT_TRUE(Parse({L"-h", L"--final=5", L"1", L"/g"}));
  EXPECT_TRUE(m_switches.helpShown);
  EXPECT_EQ(Settings().FinalVersion(), "5");
  EXPECT_EQ(Settings().CurrentVersion(), "1");
}

TEST_F(CommandLineTest, SyntaxErrorLeavesSettingsUntouched) {
  EXPECT_FALSE(Parse({L"--no-such-option", L"1", L"/g"}));
  EXPECT_TRUE(m_switches.syntaxError);
  EXPECT_TRUE(Settings().CurrentVersion().empty());
  EXPECT_TRUE(Settings().InstallPath.empty());
}

TEST_F(CommandLineTest, TargetFolderKeepsOnlyWhatEightBitTextExpresses) {
  ASSERT_TRUE(Parse({L"1", L"/games/\u03a9mbrix \u00abbeta\u00bb \u4e2d"}));
  EXPECT_EQ(Settings().InstallPath, L"/games/?mbrix \u00abbeta\u00bb ?");
}

TEST(RepairQuotedArgumentsTest, DropsOnlyAQuoteAfterABackslash) {
  std::vector<wxString> arguments{L"C:\\Games\\Ombrix\\\"", L"say \"hi\"", L"\"", L"\\\"", L"plain\\"};
  NolkPatch::RepairQuotedArguments(arguments);
  EXPECT_EQ(arguments[0], L"C:\\Games\\Ombrix\\");
  EXPECT_EQ(arguments[1], L"say \"hi\"");
  EXPECT_EQ(arguments[2], L"\"");
  EXPECT_EQ(arguments[3], L"\\");
  EXPECT_EQ(arguments[4], L"plain\\");
}

class RelaunchArgumentsTest : public app_test::SettingsTest {};

TEST_F(RelaunchArgumentsTest, EmptyVersionsStillWriteTheirFields) {
  EXPECT_EQ(NolkPatch::BuildRelaunchArguments(), "--admin --final=  \"\"");
}

TEST_F(RelaunchArgumentsTest, ServersRepairAndVersions) {
  PatchSettings& settings = PatchSettings::Get();
  settings.RepairMode = true;
  settings.PatchServers = {L"ftp://a", L"ftp://b"};
  settings.SetFinalVersion("900");
  settings.SetCurrentVersion("100");
  settings.InstallPath = L"/games/\u03a9 Ombrix";
  EXPECT_EQ(NolkPatch::BuildRelaunchArguments(),
            "--admin --repair --server=\"ftp://a;ftp://b\" --final=900 100 \"/games/? Ombrix\"");
}

// The elevated instance must read back what this instance had.
TEST_F(RelaunchArgumentsTest, ParsesBackIntoTheSameSettings) {
  PatchSettings& settings = PatchSettings::Get();
  settings.PatchServers = {L"ftp://a"};
  settings.SetFinalVersion("900");
  settings.SetCurrentVersion("100");
  settings.InstallPath = L"/games/Ombrix Sim";
  std::vector<wxString> arguments{wxString(L"korvel-patcher")};
  for (const std::string& argument : OS::SplitCommandLine(NolkPatch::BuildRelaunchArguments()))
    arguments.push_back(wxString::FromUTF8(argument));
  settings.Reset();
  AppSwitches switches;
  ASSERT_TRUE(NolkPatch::ParseCommandLine(arguments, switches));
  EXPECT_TRUE(switches.adminSwitch);
  EXPECT_EQ(settings.PatchServers, std::vector<std::wstring>{L"ftp://a"});
  EXPECT_EQ(settings.FinalVersion(), "900");
  EXPECT_EQ(settings.CurrentVersion(), "100");
  EXPECT_EQ(settings.InstallPath, L"/games/Ombrix Sim");
}

}  // namespace
