// A download-mode run killed (SIGKILL, through the fault hook's kill rule
// at a write of the archive) in the middle of the archive download, then
// run again: the next run asks only for the rest (HTTP: a range validated
// with If-Range; FTP: REST at the partial file's length) and ends with the
// installation equal to the target tree. A partial file that does not
// belong to the list entry is never taken up. Bytes served are read from
// nginx's request log and pyftpdlib's command log.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "download_test_support.h"
#include "net/InternetClient.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

namespace fs = std::filesystem;
using download_test::kCompleted;
using standalone_test::RunResult;
using standalone_test::TakeTree;

// 3 MiB of noise in version 200: the archive spans about 190 chunks, and
// the kill comes after 64 writes of it.
constexpr std::size_t kBigBytes = 3 << 20;
constexpr char kKillDuringDownload[] = "KORVEL_FAULTS=WriteStream:path=100_to_200.zip:skip=64:kill=1";

std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.find(part) != std::string::npos) found.push_back(line);
  return found;
}

// The REST commands that asked for a transfer from a later byte (the size
// query's "REST 0" left out).
std::vector<std::string> ResumeCommands(const std::string& commands) {
  std::vector<std::string> found;
  for (const std::string& line : LinesWith(commands, "REST "))
    if (line != "REST 0") found.push_back(line);
  return found;
}

class DownloadResume : public download_test::DownloadRunTest {
 protected:
  void SetUp() override {
    SetUpTrees(kBigBytes);
    m_served = InetTest::ReadFile((Served() / "100_to_200.zip").string());
    InetTest::WriteFile((Served() / "patches.txt").string(), Record("100", "200", "100_to_200.zip"));
  }
  fs::path Archive() const { return ArchiveInTemp("100_to_200"); }
  fs::path ResumeRecord() const { return Archive().string() + ".validator"; }

  // Runs until the kill and returns the length of the partial archive,
  // which holds the first bytes of the served one.
  std::size_t RunUntilKilled(const std::string& server) {
    const RunResult killed = RunDownload("--server " + server, "200", {kKillDuringDownload});
    EXPECT_NE(killed.exitCode, 0) << killed.output;
    EXPECT_FALSE(killed.Contains(kCompleted)) << killed.output;
    EXPECT_TRUE(fs::exists(ResumeRecord()));
    const std::string partial = InetTest::ReadFile(Archive().string());
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), m_served.size());
    EXPECT_EQ(partial, m_served.substr(0, partial.size()));
    return partial.size();
  }
  void ExpectCompletedAt200(const RunResult& result) {
    EXPECT_EQ(result.exitCode, 0) << result.output;
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back(), kCompleted) << result.output;
    ExpectInstallEquals(TakeTree(TreePath("200")));
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_FALSE(fs::exists(ResumeRecord()));
  }
  // A partial file of junk with the given resume record beside it.
  void LeaveStalePartial(const std::string& record) {
    fs::create_directories(Archive().parent_path());
    InetTest::WriteFile(Archive().string(), std::string(500000, 'J'));
    InetTest::WriteFile(ResumeRecord().string(), record);
  }
  // The ETag nginx gives the served archive.
  std::string ServedETag(const std::string& url) {
    NolkUtil::HttpResumePoint resume;
    NolkDataBufferMemoryDynamic body;
    EXPECT_EQ(NolkUtil::DownloadURL(url, body, 0, nullptr, resume), 0);
    EXPECT_FALSE(resume.etag.empty());
    return resume.etag;
  }

  std::string m_served;
};

TEST_F(DownloadResume, HttpRunKilledMidwayAsksOnlyForTheRest) {
  InetTest::NginxServer server;
  ASSERT_TRUE(server.Start(Served().string()));
  const std::size_t partial = RunUntilKilled(server.BaseUrl());
  ExpectCompletedAt200(RunDownload("--server " + server.BaseUrl(), "200"));
  server.Stop();
  const std::vector<std::string> gets = LinesWith(server.RangeLog(), "GET /100_to_200.zip");
  ASSERT_EQ(gets.size(), 2u) << server.RangeLog();
  EXPECT_EQ(gets[1].find("GET /100_to_200.zip HTTP/1.1 206 " + std::to_string(m_served.size() - partial) +
                         " range=bytes=" + std::to_string(partial) + "- if-range=\""),
            0u)
      << gets[1];
}

TEST_F(DownloadResume, FtpRunKilledMidwayGoesOnWithRest) {
  InetTest::FtpServer server;
  ASSERT_TRUE(server.Start((m_folder / "served").string()));
  const std::string address = server.BaseUrl() + "/ombrix";
  const std::size_t partial = RunUntilKilled(address);
  const RunResult resumed = RunDownload("--server " + address, "200");
  ExpectCompletedAt200(resumed);
  EXPECT_TRUE(resumed.Contains("resuming download of \"/ombrix/100_to_200.zip\" at byte " +
                               std::to_string(partial) + "."))
      << resumed.output;
  const std::vector<std::string> rests = ResumeCommands(server.Commands());
  ASSERT_EQ(rests.size(), 1u) << server.Commands();
  EXPECT_EQ(rests[0], "REST " + std::to_string(partial));
}

// The record names another URL (with the ETag the server does give), or
// the URL with a validator the server no longer has: neither partial file
// is used, and the whole archive comes again.
TEST_F(DownloadResume, HttpPartialOfAnotherEntryOrVersionIsNotTakenUp) {
  InetTest::NginxServer server;
  ASSERT_TRUE(server.Start(Served().string()));
  const std::string url = server.BaseUrl() + "100_to_200.zip";
  LeaveStalePartial("http://elsewhere/100_to_200.zip\n" + ServedETag(url) + "\n\n\n");
  ExpectCompletedAt200(RunDownload("--server " + server.BaseUrl(), "200"));

  InstallCopyOf("100");
  LeaveStalePartial(url + "\n\"not-this-one\"\n\n\n");
  ExpectCompletedAt200(RunDownload("--server " + server.BaseUrl(), "200"));
  server.Stop();
  const std::vector<std::string> gets = LinesWith(server.RangeLog(), "GET /100_to_200.zip");
  // The ETag's own request, then one whole answer per run.
  ASSERT_EQ(gets.size(), 3u) << server.RangeLog();
  const std::string whole = " 200 " + std::to_string(m_served.size()) + " ";
  EXPECT_EQ(gets[1], "GET /100_to_200.zip HTTP/1.1" + whole + "range= if-range=");
  EXPECT_NE(gets[2].find(whole + "range=bytes=500000- if-range=\"not-this-one\""), std::string::npos)
      << gets[2];
}

// FTP cannot ask the server whether bytes are still the same; a partial
// file is continued only with a record of the same URL and size.
TEST_F(DownloadResume, FtpPartialWithoutMatchingRecordStartsOver) {
  InetTest::FtpServer server;
  ASSERT_TRUE(server.Start((m_folder / "served").string()));
  const std::string address = server.BaseUrl() + "/ombrix";
  LeaveStalePartial(address + "/100_to_200.zip\n\n\n" + std::to_string(m_served.size() + 1) + "\n");
  ExpectCompletedAt200(RunDownload("--server " + address, "200"));
  EXPECT_TRUE(ResumeCommands(server.Commands()).empty()) << server.Commands();
}

}  // namespace
