// The console program as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <utility>

#include "KernelStandard/platform/Platform.h"
#include "app_test_support.h"
#include "resources/MessageText.h"
#include "resources/StringTable.h"

namespace {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  CliResult RunCli(const std::string& arguments, const std::string& environment = "") {
    const std::string command = environment + " KORVEL_REGISTRY='" + (m_folder / "registry.reg").string() +
                                "' TEMP='" + (m_folder / "temp").string() + "' '" KORVEL_PATCHER_CLI "' " +
                                arguments + " >'" + (m_folder / "out").string() + "' 2>'" +
                                (m_folder / "err").string() + "' </dev/null";
    const int status = std::system(command.c_str());
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = app_test::ReadFile(m_folder / "out");
    result.err = app_test::ReadFile(m_folder / "err");
    return result;
  }
  app_test::TempFolder m_folder;
};

TEST_F(CliTest, WithoutModeTheErrorGoesToStandardError) {
  const CliResult result = RunCli("100 '" + (m_folder / "game").string() + "'");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("No valid patch operation was specified. Patching aborted."), std::string::npos)
      << result.err;
  EXPECT_EQ(result.out.find("No valid patch operation"), std::string::npos);
}

// The line of the usage text that mentions `what`; empty when none does.
std::string UsageLineWith(const std::string& usage, const std::string& what) {
  const std::size_t found = usage.find(what);
  if (found == std::string::npos) return "";
  const std::size_t start = usage.rfind('\n', found) == std::string::npos ? 0 : usage.rfind('\n', found) + 1;
  return usage.substr(start, usage.find('\n', found) - start);
}

TEST_F(CliTest, HelpGoesToStandardOutputAndExitsWithZero) {
  for (const char* request : {"-h", "--help"}) {
    const CliResult result = RunCli(request, "LC_ALL=C");
    EXPECT_EQ(result.exitCode, 0) << request;
    EXPECT_NE(UsageLineWith(result.out, "--server").find("FTP patch server address"), std::string::npos)
        << result.out;
    EXPECT_NE(UsageLineWith(result.out, "--help").find("print usage"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "") << request;
  }
}

// Every help text of the option table, in the language of the locale, as
// UTF-8 beside its option (the parameters appear by their help texts).
TEST_F(CliTest, HelpShowsEveryTextOfTheLocaleLanguage) {
  const std::pair<const char*, std::uint16_t> locales[] = {{"fr_FR.UTF-8", NolkPatch::LANGUAGE_FRENCH},
                                                           {"ru_RU.UTF-8", NolkPatch::LANGUAGE_RUSSIAN},
                                                           {"de_DE.UTF-8", NolkPatch::LANGUAGE_GERMAN}};
  const std::pair<int, const char*> options[] = {{121, "--help"},   {122, "--admin"}, {124, "--list"},
                                                 {125, "--server"}, {126, "--final"}, {129, "--repair"},
                                                 {130, "--onexit"}};
  const std::uint16_t previous = NolkPatch::GetMessageLanguage();
  for (const auto& [locale, language] : locales) {
    const CliResult result = RunCli("--help", std::string("LC_ALL=") + locale);
    EXPECT_EQ(result.exitCode, 0) << locale;
    NolkPatch::SetMessageLanguage(language);
    for (const auto& [id, option] : options) {
      const std::string text = OS::ToUtf8(NolkPatch::LoadMessageText(id));
      ASSERT_FALSE(text.empty()) << id;
      EXPECT_NE(UsageLineWith(result.out, option).find(text), std::string::npos)
          << locale << " " << id << "\n"
          << result.out;
    }
    for (int parameterId : {123, 127})
      EXPECT_NE(result.out.find("[" + OS::ToUtf8(NolkPatch::LoadMessageText(parameterId)) + "]"),
                std::string::npos)
          << locale << " " << parameterId << "\n"
          << result.out;
  }
  NolkPatch::SetMessageLanguage(previous);
}

TEST_F(CliTest, RejectedCommandLineExitsWithUsageCode) {
  const CliResult result = RunCli("--no-such-option");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("no-such-option"), std::string::npos) << result.err;
}

// A patch server that refuses every connection: the run says the download
// failed and aborts.
TEST_F(CliTest, DownloadFromAnUnreachableServerAbortsWithAReason) {
  // An existing installation, so the files-in-use check before the driver passes.
  std::filesystem::create_directories(m_folder / "game");
  setenv("KORVEL_RETRY_PAUSE_MS", "10", 1);
  const CliResult result = RunCli("--server=ftp://127.0.0.1:1 100 '" + (m_folder / "game").string() + "'");
  unsetenv("KORVEL_RETRY_PAUSE_MS");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE((result.err + result.out).find("Patch download failed."), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("Patching aborted."), std::string::npos) << result.out;
}

TEST_F(CliTest, OnExitProgramRunsWhenTheProgramEnds) {
  const std::string marker = (m_folder / "marker").string();
  const CliResult result =
      RunCli("'--onexit=/bin/sh -c \"echo ran > " + marker + "\"' 1 '" + (m_folder / "game").string() + "'");
  EXPECT_EQ(result.exitCode, 1);
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) usleep(20000);
  EXPECT_EQ(app_test::ReadFile(marker), "ran\n");
}

}  // namespace
