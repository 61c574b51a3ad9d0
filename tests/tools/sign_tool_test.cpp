// korvel-sign run as a publisher runs it: key files, list signatures that
// the patcher's checks accept, package signatures, and the SHA-256 lines of
// the archive builder and the signing tool (checked against sha256sum).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "patch/signing/ListSignature.h"
#include "tool_program_support.h"

namespace {

using PublisherTest::ProgramResult;
using PublisherTest::ReadText;
namespace fs = std::filesystem;

class SignTool : public PublisherTest::PublisherFolderTest {
 protected:
  ProgramResult Sign(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), KORVEL_SIGN);
    return PublisherTest::RunProgram(arguments, m_root);
  }
  std::string P(const std::string& name) const { return (m_root / name).string(); }
  void Keygen(const std::string& name) {
    const ProgramResult made =
        Sign({"keygen", "--secret-key", P(name + ".key"), "--public-key", P(name + ".pub")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  std::string ArchiveLine(const std::string& archive) {
    const ProgramResult line = Sign({"sha256", P(archive)});
    EXPECT_EQ(line.exitCode, 0) << line.err;
    return line.out;
  }
  std::string GoodList(const std::string& checksumLine) {
    return "list-expires: 2099-12-31T23:59:59Z\n\nsource-version: 1\ntarget-version: 2\npatch-exe-url: x\n"
           "patch-data-url: 1_to_2.zip\n" +
           checksumLine;
  }
};

TEST_F(SignTool, KeygenWritesAPrivateSecretKeyAndNeverReplacesOne) {
  Keygen("publisher");
#ifndef _WIN32
  // Readable by its owner alone (Windows files have no such mode bits).
  struct stat secret {};
  ASSERT_EQ(::stat(P("publisher.key").c_str(), &secret), 0);
  EXPECT_EQ(secret.st_mode & 0777, 0600u);
#endif
  const std::string pub = ReadText(m_root / "publisher.pub");
  ASSERT_EQ(pub.size(), 65u);
  EXPECT_EQ(pub.find_first_not_of("0123456789abcdef"), 64u);
  EXPECT_EQ(ReadText(m_root / "publisher.key").rfind("korvel-sign secret key 1\n", 0), 0u);

  const std::string before = ReadText(m_root / "publisher.key");
  const ProgramResult again =
      Sign({"keygen", "--secret-key", P("publisher.key"), "--public-key", P("other.pub")});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(ReadText(m_root / "publisher.key"), before);
  EXPECT_FALSE(fs::exists(m_root / "other.pub"));
  // The secret key is never taken from the command line.
  EXPECT_EQ(Sign({"sign-list", "--secret-key-hex", std::string(64, 'a'), "--list", P("x")}).exitCode, 2);
}

TEST_F(SignTool, SignedListVerifiesWithItsKeyOnly) {
  Keygen("a");
  Keygen("b");
  Write("1_to_2.zip", std::string("\x01\0\0\0", 4) + "payload");
  Write("patches.txt", GoodList(ArchiveLine("1_to_2.zip")));
  const ProgramResult signedList =
      Sign({"sign-list", "--secret-key", P("a.key"), "--list", P("patches.txt")});
  ASSERT_EQ(signedList.exitCode, 0) << signedList.err;
  const std::string signature = ReadText(m_root / "patches.txt.sig");
  EXPECT_EQ(signature.size(), 129u);

  EXPECT_EQ(Sign({"verify", "--public-key", P("a.pub"), "--list", P("patches.txt")}).exitCode, 0);
  EXPECT_EQ(
      Sign({"verify", "--public-key", P("b.pub"), "--public-key", P("a.pub"), "--list", P("patches.txt")})
          .exitCode,
      0);
  const ProgramResult wrongKey = Sign({"verify", "--public-key", P("b.pub"), "--list", P("patches.txt")});
  EXPECT_EQ(wrongKey.exitCode, 2);
  EXPECT_NE(wrongKey.err.find("does not match"), std::string::npos) << wrongKey.err;
  Write("patches.txt", GoodList(ArchiveLine("1_to_2.zip")) + "\n");
  EXPECT_EQ(Sign({"verify", "--public-key", P("a.pub"), "--list", P("patches.txt")}).exitCode, 2);
}

TEST_F(SignTool, ListsThePatcherWouldRefuseAreNotSigned) {
  Keygen("a");
  const std::string checksum = "patch-data-sha256: " + std::string(64, '0') + "\n";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"source-version: 1\ntarget-version: 2\npatch-exe-url: x\npatch-data-url: y\n" + checksum, "no expiry"},
      {"list-expires: 2001-01-01T00:00:00Z\n\n" + GoodList(checksum).substr(36), "expired on 2001"},
      {"list-expires: soon\n\n" + GoodList(checksum).substr(36), "not written"},
      {GoodList(""), "names no valid patch-data-sha256"},
      {GoodList("patch-data-sha256: 12\n"), "names no valid patch-data-sha256"},
  };
  for (const auto& [list, why] : refused) {
    Write("patches.txt", list);
    const ProgramResult result = Sign({"sign-list", "--secret-key", P("a.key"), "--list", P("patches.txt")});
    EXPECT_EQ(result.exitCode, 2) << list;
    EXPECT_NE(result.err.find(why), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(m_root / "patches.txt.sig"));
  }
}

TEST_F(SignTool, ChecksumLinesMatchSha256sum) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux only: the reference checksum comes from the sha256sum program";
#endif
  Write("tree/old/bin/Launcher.exe", "old launcher");
  Write("tree/new/bin/Launcher.exe", "new launcher");
  Write("tree/new/data/file.dat", std::string(100000, 'q'));
  const ProgramResult built =
      PublisherTest::RunProgram({KORVEL_MAKE_PATCH, "--old", P("tree/old"), "--new", P("tree/new"), "--out",
                                 P("a.zip"), "--print-sha256"},
                                m_root);
  ASSERT_EQ(built.exitCode, 0) << built.err;
  ASSERT_EQ(std::system(("sha256sum " + P("a.zip") + " > " + P("sum.txt")).c_str()), 0);
  const std::string reference = ReadText(m_root / "sum.txt").substr(0, 64);
  EXPECT_EQ(built.out, "patch-data-sha256: " + reference + "\n");
  EXPECT_EQ(ArchiveLine("a.zip"), built.out);
}

TEST_F(SignTool, PackagesAreSignedInTheirReservedRoomAndVerified) {
  Keygen("a");
  Keygen("b");
  Write("1_to_2.arc", std::string("\x01\0\0\0", 4) + "payload");
  const auto package = [&](const std::string& out, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {KORVEL_PACKAGE,
                                     "--patcher",
                                     KORVEL_SIGN,
                                     "--out",
                                     P(out),
                                     "--final",
                                     "2",
                                     "--build",
                                     std::string(32, 'a') + "=1",
                                     "--patch",
                                     "1:2:" + P("1_to_2.arc")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const ProgramResult result = PublisherTest::RunProgram(argv, m_root);
    EXPECT_EQ(result.exitCode, 0) << result.err;
  };
  package("plain.exe", {});
  const ProgramResult noRoom =
      Sign({"sign-package", "--secret-key", P("a.key"), "--package", P("plain.exe")});
  EXPECT_EQ(noRoom.exitCode, 2);
  EXPECT_NE(noRoom.err.find("--signature-room"), std::string::npos) << noRoom.err;
  EXPECT_EQ(Sign({"verify", "--public-key", P("a.pub"), "--package", P("plain.exe")}).exitCode, 2);

  package("room.exe", {"--signature-room"});
  EXPECT_EQ(Sign({"verify", "--public-key", P("a.pub"), "--package", P("room.exe")}).exitCode, 2);
  ASSERT_EQ(Sign({"sign-package", "--secret-key", P("a.key"), "--package", P("room.exe")}).exitCode, 0);
  EXPECT_EQ(Sign({"verify", "--public-key", P("a.pub"), "--package", P("room.exe")}).exitCode, 0);
  const ProgramResult other = Sign({"verify", "--public-key", P("b.pub"), "--package", P("room.exe")});
  EXPECT_EQ(other.exitCode, 2);
  EXPECT_NE(other.err.find("does not trust"), std::string::npos) << other.err;

  package("signed.exe", {"--sign-with", P("b.key")});
  EXPECT_EQ(
      Sign({"verify", "--public-key", P("a.pub"), "--public-key", P("b.pub"), "--package", P("signed.exe")})
          .exitCode,
      0);
  // The signed standalone patch is still the program: it starts.
  const ProgramResult runs = PublisherTest::RunProgram({P("signed.exe"), "--help"}, m_root);
  EXPECT_EQ(runs.exitCode, 0);
  EXPECT_NE(runs.out.find("usage: korvel-sign"), std::string::npos);
}

}  // namespace
