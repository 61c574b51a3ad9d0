// HTTP downloads and size queries against nginx and the scripted server:
// bodies, error statuses, retries that rewind or resume, cancel.
#include <gtest/gtest.h>

#include <atomic>

#include "KernelStandard/platform/Platform.h"
#include "inet_test_servers.h"
#include "net/InternetClient.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using namespace InetTest;

std::string Contents(const NolkDataBufferMemoryDynamic& buffer) {
  return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

class CountingStop : public DownloadURLCallback {
 public:
  explicit CountingStop(int allowedCalls) : m_allowed(allowedCalls) {}
  bool StopRequested() override { return ++m_calls > m_allowed; }
  int Calls() const { return m_calls; }

 private:
  int m_allowed;
  int m_calls = 0;
};

class InetHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareClientEnvironment();
    WriteFile(m_root / "patches.txt", "hello patch list\n");
    m_big = PatternBytes(200000);
    WriteFile(m_root / "big.zip", m_big);
    ASSERT_TRUE(m_nginx.Start(m_root.Path()));
  }
  TempFolder m_root;
  NginxServer m_nginx;
  std::string m_big;
};

TEST_F(InetHttp, DownloadsWholeBodyAndSendsAgentName) {
  NolkDataBufferMemoryDynamic small;
  ASSERT_EQ(NolkUtil::DownloadURL(m_nginx.BaseUrl() + "patches.txt", small, NolkUtil::kDownloadBypassCache,
                                  nullptr),
            0);
  EXPECT_EQ(Contents(small), "hello patch list\n");
  CountingStop never(1 << 30);
  NolkDataBufferMemoryDynamic big;
  ASSERT_EQ(NolkUtil::DownloadURL(m_nginx.BaseUrl() + "big.zip", big, 0, &never), 0);
  EXPECT_EQ(Contents(big), m_big);
  EXPECT_GE(never.Calls(), static_cast<int>(m_big.size() / 16384));
  EXPECT_NE(m_nginx.AccessLog().find("\"Nolk\""), std::string::npos);
}

TEST_F(InetHttp, NotFoundIsAFailedAttemptRetriedAndNeverWritten) {
  NolkDataBufferMemoryDynamic destination;
  const char prefix[] = "keep";
  destination.WriteData(prefix, 4);
  testing::internal::CaptureStdout();
  const NolkResult result = NolkUtil::DownloadURL(m_nginx.BaseUrl() + "missing.zip", destination, 0, nullptr);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(Contents(destination), "keep");
  EXPECT_NE(output.find("status 404 for url " + m_nginx.BaseUrl() + "missing.zip"), std::string::npos);
  std::size_t requests = 0;
  m_nginx.Stop();  // nginx writes a request's line after its answer
  const std::string log = m_nginx.AccessLog();
  for (std::size_t at = log.find("missing.zip"); at != std::string::npos;
       at = log.find("missing.zip", at + 1))
    ++requests;
  EXPECT_EQ(requests, 11u);
}

TEST_F(InetHttp, SizeOfResourceAndOfMissingOne) {
  std::uint64_t size = 0;
  ASSERT_EQ(NolkUtil::GetURLSize(m_nginx.BaseUrl() + "big.zip", size), 0);
  EXPECT_EQ(size, m_big.size());
  EXPECT_EQ(NolkUtil::GetURLSize(m_nginx.BaseUrl() + "nothing", size), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(size, 0u);
}

TEST_F(InetHttp, CancelStopsAfterAtMostOneChunkWithoutFurtherAttempts) {
  CountingStop stopAfterOne(1);
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(NolkUtil::DownloadURL(m_nginx.BaseUrl() + "big.zip", destination, 0, &stopAfterOne),
            NOLKRESULT_CLOSED);
  EXPECT_LE(destination.GetSize(), 16384u);
  m_nginx.Stop();
  const std::string log = m_nginx.AccessLog();
  EXPECT_EQ(log.find("big.zip"), log.rfind("big.zip"));
}

TEST_F(InetHttp, ConnectionRefusedTriesElevenTimes) {
  const int port = m_nginx.Port();
  m_nginx.Stop();
  NolkDataBufferMemoryDynamic destination;
  testing::internal::CaptureStdout();
  EXPECT_EQ(NolkUtil::DownloadURL("http://127.0.0.1:" + std::to_string(port) + "/x", destination, 0, nullptr),
            NOLKRESULT_CONNECTION_LOST);
  const std::string output = testing::internal::GetCapturedStdout();
  std::size_t lines = 0;
  for (std::size_t at = output.find("InternetConnect returned"); at != std::string::npos;
       at = output.find("InternetConnect returned", at + 1))
    ++lines;
  EXPECT_EQ(lines, 11u);
}

TEST(InetHttpFaults, CutTransferResumesWithRangeValidatedByETag) {
  PrepareClientEnvironment();
  const std::string body = PatternBytes(100000, 7);
  ScriptedHttpServer server;
  ASSERT_TRUE(server.Start("cut", body, 30000));
  NolkDataBufferMemoryDynamic destination;
  ASSERT_EQ(NolkUtil::DownloadURL(server.Url(), destination, 0, nullptr), 0);
  EXPECT_EQ(Contents(destination), body);
  const std::string requests = server.Requests();
  EXPECT_NE(requests.find("Range: bytes=30000-"), std::string::npos) << requests;
  EXPECT_NE(requests.find("If-Range: \"v1\""), std::string::npos) << requests;
}

TEST(InetHttpFaults, ServerIgnoringRangeHasTheDestinationRewound) {
  PrepareClientEnvironment();
  const std::string body = PatternBytes(100000, 8);
  ScriptedHttpServer server;
  ASSERT_TRUE(server.Start("norange", body, 30000));
  NolkDataBufferMemoryDynamic destination;
  const char prefix[] = "AB";
  destination.WriteData(prefix, 2);
  ASSERT_EQ(NolkUtil::DownloadURL(server.Url(), destination, 0, nullptr), 0);
  EXPECT_EQ(Contents(destination), "AB" + body);
}

TEST(InetHttpFaults, LyingContentLengthFailsEveryAttemptAndLeavesNothing) {
  PrepareClientEnvironment();
  ScriptedHttpServer server;
  ASSERT_TRUE(server.Start("lie", PatternBytes(5000, 9)));
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(NolkUtil::DownloadURL(server.Url(), destination, 0, nullptr), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(destination.GetSize(), 0u);
}

TEST(InetHttpFaults, SizeWithoutContentLengthFailsAfterElevenAttempts) {
  PrepareClientEnvironment();
  ScriptedHttpServer server;
  ASSERT_TRUE(server.Start("nolength", "abc"));
  std::uint64_t size = 5;
  testing::internal::CaptureStdout();
  EXPECT_EQ(NolkUtil::GetURLSize(server.Url(), size), NOLKRESULT_CONNECTION_LOST);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(size, 0u);
  std::size_t heads = 0;
  const std::string requests = server.Requests();
  for (std::size_t at = requests.find("HEAD "); at != std::string::npos; at = requests.find("HEAD ", at + 1))
    ++heads;
  EXPECT_EQ(heads, 11u);
}

TEST(InetHttpFaults, ResumesAnEarlierRunsPartialFileWithItsValidator) {
  PrepareClientEnvironment();
  const std::string body = PatternBytes(90000, 10);
  ScriptedHttpServer server;
  ASSERT_TRUE(server.Start("cut", body, 0));
  TempFolder folder;
  WriteFile(folder / "part", body.substr(0, 40000));
  NolkDataBufferFile destination(OS::FromUtf8(folder / "part"), NolkDataBufferFile::WriteUpdate);
  ASSERT_EQ(destination.SetPosition(destination.GetSize()), 0);
  NolkUtil::HttpResumePoint resume;
  resume.etag = "\"v1\"";
  ASSERT_EQ(NolkUtil::DownloadURL(server.Url(), destination, 0, nullptr, resume), 0);
  destination.Flush();
  EXPECT_EQ(ReadFile(folder / "part"), body);
  EXPECT_NE(server.Requests().find("Range: bytes=40000-"), std::string::npos);
}

}  // namespace
