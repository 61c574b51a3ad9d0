// Whole download-mode runs through korvel-patcher-cli against real patch
// servers on 127.0.0.1: nginx for HTTP, pyftpdlib for FTP.
#include <gtest/gtest.h>

#include <filesystem>

#include "download_test_support.h"

namespace {

namespace fs = std::filesystem;
using download_test::kAborted;
using download_test::kCompleted;
using standalone_test::Quoted;
using standalone_test::RunResult;
using standalone_test::TakeTree;

class DownloadRun : public download_test::DownloadRunTest {
 protected:
  void SetUp() override { SetUpTrees(); }
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
