// HTTPS is verified TLS: nginx with certificates of a test CA made by
// openssl; the CA is trusted only through KORVEL_CA_FILE.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(InetHttps, LinuxOnly) {
  GTEST_SKIP() << "Linux only: the test CA is trusted through KORVEL_CA_FILE, which the libcurl client "
                  "reads; WinINet trusts the system's certificate store alone";
}
#else
#include <gtest/gtest.h>

#include <cstdlib>

#include "inet_test_servers.h"
#include "net/InternetClient.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using namespace InetTest;

class InetHttps : public ::testing::Test {
 protected:
  void SetUp() override {
    PrepareClientEnvironment();
    WriteFile(m_root / "file.txt", "secret patch\n");
    ASSERT_TRUE(MakeTestCertificates(m_certs.Path(), m_files));
    ::setenv("KORVEL_CA_FILE", m_files.caFile.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("KORVEL_CA_FILE"); }

  // The download's result and its standard output.
  NolkResult Fetch(NginxServer& server, std::string& output, NolkDataBufferMemoryDynamic& destination,
                   const std::string& host = "127.0.0.1") {
    testing::internal::CaptureStdout();
    const NolkResult result = NolkUtil::DownloadURL(
        "https://" + host + ":" + std::to_string(server.Port()) + "/file.txt", destination, 0, nullptr);
    output = testing::internal::GetCapturedStdout();
    return result;
  }

  TempFolder m_root;
  TempFolder m_certs;
  TestCertificates m_files;
};

TEST_F(InetHttps, TestCaSucceedsForIpAndHostName) {
  NginxServer server;
  ASSERT_TRUE(server.Start(m_root.Path(), m_files.serverCert, m_files.serverKey));
  std::string output;
  NolkDataBufferMemoryDynamic destination;
  ASSERT_EQ(Fetch(server, output, destination), 0) << output;
  EXPECT_EQ(std::string(destination.Bytes().begin(), destination.Bytes().end()), "secret patch\n");
  NolkDataBufferMemoryDynamic again;
  EXPECT_EQ(Fetch(server, output, again, "localhost"), 0) << output;
}

TEST_F(InetHttps, WithoutTheTestCaTheSystemStoreRefusesIt) {
  ::unsetenv("KORVEL_CA_FILE");
  NginxServer server;
  ASSERT_TRUE(server.Start(m_root.Path(), m_files.serverCert, m_files.serverKey));
  std::string output;
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(Fetch(server, output, destination), NOLKRESULT_CONNECTION_LOST);
  EXPECT_NE(output.find("HttpSendRequest returned 60"), std::string::npos) << output;
  EXPECT_EQ(destination.GetSize(), 0u);
}

TEST_F(InetHttps, UnknownCaExpiredAndWrongHostFailWithAClearLine) {
  struct Case {
    std::string cert, key, expected;
  };
  const Case cases[] = {
      {m_files.untrustedCert, m_files.untrustedKey, "unable to get local issuer certificate"},
      {m_files.expiredCert, m_files.expiredKey, "certificate has expired"},
      {m_files.otherHostCert, m_files.otherHostKey, "127.0.0.1"}};
  for (const Case& c : cases) {
    NginxServer server;
    ASSERT_TRUE(server.Start(m_root.Path(), c.cert, c.key));
    std::string output;
    NolkDataBufferMemoryDynamic destination;
    EXPECT_EQ(Fetch(server, output, destination), NOLKRESULT_CONNECTION_LOST);
    EXPECT_NE(output.find("HttpSendRequest returned"), std::string::npos) << output;
    EXPECT_NE(output.find(c.expected), std::string::npos) << output;
    EXPECT_EQ(destination.GetSize(), 0u);
  }
}

}  // namespace
#endif  // _WIN32
