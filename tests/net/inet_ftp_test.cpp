// FTP downloads in passive mode against pyftpdlib: whole files, REST
// resume from the destination's length, sizes, folders, cancel.
#include <gtest/gtest.h>

#include <filesystem>

#include "inet_test_servers.h"
#include "net/InternetClient.h"
#include "net/NolkFTP.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using namespace InetTest;

std::string Contents(const NolkDataBufferMemoryDynamic& buffer) {
  return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

class StopAfter : public DownloadURLCallback {
 public:
  explicit StopAfter(int calls) : m_left(calls) {}
  bool StopRequested() override { return m_left-- <= 0; }

 private:
  int m_left;
};

class InetFtp : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareClientEnvironment();
    m_body = PatternBytes(120000, 3);
    std::filesystem::create_directories(m_root / "patches");
    WriteFile(m_root / "patches/a.zip", m_body);
    ASSERT_TRUE(m_server.Start(m_root.Path()));
  }
  TempFolder m_root;
  FtpServer m_server;
  std::string m_body;
};

TEST_F(InetFtp, FreshDownloadSendsNoRest) {
  NolkDataBufferMemoryDynamic destination;
  ASSERT_EQ(NolkUtil::DownloadURL(m_server.BaseUrl() + "/patches/a.zip", destination, 0, nullptr), 0);
  EXPECT_EQ(Contents(destination), m_body);
  const std::string commands = m_server.Commands();
  EXPECT_EQ(commands.find("REST"), std::string::npos) << commands;
  EXPECT_TRUE(commands.find("EPSV") != std::string::npos || commands.find("PASV") != std::string::npos)
      << commands;
  EXPECT_EQ(commands.find("PORT"), std::string::npos) << commands;
}

TEST_F(InetFtp, ResumesAtTheDestinationsLengthWithRest) {
  NolkDataBufferMemoryDynamic destination;
  const std::string kept(1000, 'X');
  destination.WriteData(kept.data(), 1000);
  destination.SetPosition(0);
  testing::internal::CaptureStdout();
  ASSERT_EQ(NolkUtil::DownloadURL(m_server.BaseUrl() + "/patches/a.zip", destination, 0, nullptr), 0);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Contents(destination), kept + m_body.substr(1000));
  EXPECT_NE(m_server.Commands().find("REST 1000"), std::string::npos);
  EXPECT_NE(output.find("NolkFTP::GetFileAtPath> resuming download of \"/patches/a.zip\" at byte 1000."),
            std::string::npos);
}

TEST_F(InetFtp, DestinationLongerThanTheFileStartsOver) {
  NolkDataBufferMemoryDynamic destination;
  const std::string stale(200000, 'S');
  destination.WriteData(stale.data(), static_cast<std::uint32_t>(stale.size()));
  testing::internal::CaptureStdout();
  ASSERT_EQ(NolkUtil::DownloadURL(m_server.BaseUrl() + "/patches/a.zip", destination, 0, nullptr), 0);
  const std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Contents(destination), m_body);
  EXPECT_NE(output.find("unable to resume download of \"/patches/a.zip\""), std::string::npos);
}

TEST_F(InetFtp, SizeFolderAndMissingFile) {
  std::uint64_t size = 0;
  ASSERT_EQ(NolkUtil::GetURLSize(m_server.BaseUrl() + "/patches/a.zip", size), 0);
  EXPECT_EQ(size, m_body.size());
  NolkFTP ftp;
  ASSERT_EQ(ftp.Open("127.0.0.1", "", "", true, m_server.Port()), 0);
  ASSERT_EQ(ftp.SetDirectory("/patches"), 0);
  EXPECT_EQ(ftp.CurrentDirectory(), "/patches");
  ASSERT_EQ(ftp.GetRemoteFileSize("a.zip", size), 0);
  EXPECT_EQ(size, m_body.size());
  EXPECT_EQ(ftp.SetDirectory("/nowhere"), NOLKRESULT_CANNOT_LIST);
  EXPECT_EQ(ftp.CurrentDirectory(), "");
  NolkDataBufferMemoryDynamic destination;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ftp.GetFileAtPath("/patches/none.zip", destination, nullptr), NOLKRESULT_CONNECTION_LOST);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("FtpOpenFile returned"), std::string::npos);
}

TEST_F(InetFtp, NotConnectedAndRefusedLogin) {
  NolkFTP ftp;
  NolkDataBufferMemoryDynamic destination;
  std::uint64_t size = 0;
  EXPECT_EQ(ftp.GetFileAtPath("/x", destination, nullptr), NOLKRESULT_NOT_OPEN);
  EXPECT_EQ(ftp.GetRemoteFileSize("/x", size), NOLKRESULT_NOT_OPEN);
  EXPECT_EQ(ftp.SetDirectory("/x"), NOLKRESULT_NOT_OPEN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ftp.Open("127.0.0.1", "mallory", "guess", true, m_server.Port()), NOLKRESULT_CONNECTION_LOST);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("NolkFTP::Open> Connection to \"127.0.0.1\" failed"),
            std::string::npos);
}

TEST_F(InetFtp, CancelEndsWithThirteenAfterAtMostOneChunk) {
  StopAfter stop(1);
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(NolkUtil::DownloadURL(m_server.BaseUrl() + "/patches/a.zip", destination, 0, &stop),
            NOLKRESULT_CLOSED);
  EXPECT_LE(destination.GetSize(), 16384u);
  const std::string commands = m_server.Commands();
  EXPECT_EQ(commands.find("RETR"), commands.rfind("RETR"));
}

}  // namespace
