// Whole download-mode runs through korvel-patcher-cli against real patch
// servers on 127.0.0.1: nginx for HTTP, pyftpdlib for FTP.
#include <gtest/gtest.h>

#include <filesystem>

#include "net/inet_test_servers.h"
#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::Quoted;
using standalone_test::RunResult;
using standalone_test::RunShell;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;

constexpr char kCompleted[] = "Patching completed.";
constexpr char kAborted[] = "Patching aborted.";

class DownloadRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    InetTest::PrepareClientEnvironment();
    MakeTree("100", {{"data/a.dat", std::string(40000, 'a')}, {"data/gone.dat", "removed by 200"}});
    MakeTree("200", {{"data/a.dat", std::string(40000, 'a') + "200"}, {"data/b.dat", "new in 200"}});
    MakeTree("300", {{"data/a.dat", std::string(40000, 'a') + "300"},
                     {"data/b.dat", "new in 200"},
                     {"data/c.dat", InetTest::PatternBytes(300000)}});
    fs::create_directories(TreePath("200") / "data");
    fs::create_directories(Served());
    MakeArchive("100", "200");
    MakeArchive("200", "300");
    InstallCopyOf("100");
    RegisterInstall();
  }

  fs::path Served() const { return m_folder / "served" / "ombrix"; }
  void MakeArchive(const std::string& source, const std::string& target) {
    const std::string make = Quoted(std::string(KORVEL_MAKE_PATCH)) + " --old " + Quoted(TreePath(source)) +
                             " --new " + Quoted(TreePath(target)) + " --out " +
                             Quoted(Served() / (source + "_to_" + target + ".zip"));
    ASSERT_EQ(RunShell(make), 0) << make;
  }
  static std::string Record(const std::string& source, const std::string& target,
                            const std::string& dataUrl) {
    return "source-version: " + source + "\ntarget-version: " + target +
           "\npatch-exe-url: http://unused/p.exe\npatch-data-url: " + dataUrl + "\n\n";
  }
  RunResult RunDownload(const std::string& serverArguments, const std::string& finalVersion = "300") {
    return Run(KORVEL_PATCHER_CLI, {"KORVEL_RETRY_PAUSE_MS=10"},
               serverArguments + " --final " + finalVersion + " 100 " + Quoted(Install()));
  }
};

TEST_F(DownloadRun, HttpChainWithRelativeAndAbsoluteUrlsReachesTheFinalTree) {
  InetTest::NginxServer server;
  ASSERT_TRUE(server.Start((m_folder / "served").string()));
  InetTest::WriteFile((Served() / "patches.txt").string(),
                      Record("100", "200", "100_to_200.zip") +
                          Record("200", "300", server.BaseUrl() + "ombrix/200_to_300.zip"));
  const RunResult result = RunDownload("--server " + server.BaseUrl() + "ombrix/");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Searching for patches...\n")) << result.output;
  EXPECT_TRUE(result.Contains("Downloading patch file...\n")) << result.output;
  EXPECT_TRUE(result.Contains("Client is at the final version: 300\n")) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));
  EXPECT_FALSE(fs::exists(m_folder / "temp" / "100_to_200.zip"));
}

// The list: a dead server, one without acceptable records, then the FTP
// server on the last line, without a final line end.
TEST_F(DownloadRun, FirstServerWithoutListSecondGoodOverFtp) {
  InetTest::NginxServer empty;
  InetTest::TempFolder emptyRoot;
  InetTest::WriteFile(emptyRoot / "patches.txt", "nothing: here\n");
  ASSERT_TRUE(empty.Start(emptyRoot.Path()));
  InetTest::FtpServer ftp;
  ASSERT_TRUE(ftp.Start((m_folder / "served").string()));
  InetTest::WriteFile((Served() / "patches.txt").string(),
                      Record("100", "200", "100_to_200.zip") + Record("200", "300", "200_to_300.zip"));
  m_folder.WriteFile("servers.txt",
                     "http://127.0.0.1:1/\n" + empty.BaseUrl() + "\n" + ftp.BaseUrl() + "/ombrix");
  const RunResult result = RunDownload("--list " + Quoted(m_folder / "servers.txt"));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Unable to download patch file: http://127.0.0.1:1/patches.txt"))
      << result.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));
}

TEST_F(DownloadRun, ChainEndingEarlyIsASuccessAtThatVersion) {
  InetTest::NginxServer server;
  ASSERT_TRUE(server.Start(Served().string()));
  InetTest::WriteFile((Served() / "patches.txt").string(), Record("100", "200", "100_to_200.zip"));
  const RunResult result = RunDownload("--server " + server.BaseUrl());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("No (more) patches at server for version: 200\n")) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("200")));
}

TEST_F(DownloadRun, MissingArchiveOrNoServerAbortsAndLeavesTheInstallation) {
  InetTest::NginxServer server;
  ASSERT_TRUE(server.Start(Served().string()));
  InetTest::WriteFile((Served() / "patches.txt").string(), Record("100", "200", "missing.zip"));
  RunResult result = RunDownload("--server " + server.BaseUrl());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains("Patch download failed.")) << result.output;
  EXPECT_EQ(result.lines.back(), kAborted);
  ExpectInstallEquals(TakeTree(TreePath("100")));
  server.Stop();
  result = RunDownload("--server " + server.BaseUrl());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains("Unable to connect to any patch servers.")) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("100")));
}

}  // namespace
