// The console program as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "app_test_support.h"

namespace {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  CliResult RunCli(const std::string& arguments) {
    const std::string command = "KORVEL_REGISTRY='" + (m_folder / "registry.reg").string() + "' TEMP='" +
                                (m_folder / "temp").string() + "' '" KORVEL_PATCHER_CLI "' " + arguments +
                                " >'" + (m_folder / "out").string() + "' 2>'" + (m_folder / "err").string() +
                                "' </dev/null";
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

TEST_F(CliTest, HelpPrintsTheUsage) {
  const CliResult result = RunCli("-h");
  EXPECT_EQ(result.exitCode, 0);
  const std::string all = result.out + result.err;
  EXPECT_NE(all.find("--server"), std::string::npos) << all;
  EXPECT_NE(all.find("print usage"), std::string::npos) << all;
}

TEST_F(CliTest, RejectedCommandLineExitsWithUsageCode) {
  const CliResult result = RunCli("--no-such-option");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("no-such-option"), std::string::npos) << result.err;
}

// This build registers no download driver: the run must say so and fail.
TEST_F(CliTest, DownloadWithoutDriverAbortsWithAReason) {
  // An existing installation, so the files-in-use check before the driver passes.
  std::filesystem::create_directories(m_folder / "game");
  const CliResult result = RunCli("--server=ftp://127.0.0.1 100 '" + (m_folder / "game").string() + "'");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("download patch driver missing"), std::string::npos) << result.err;
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
