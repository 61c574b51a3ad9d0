// Whole runs of the console patcher built with the test publisher keys
// (tests/fixtures/signing): download mode against nginx with lists signed
// by korvel-sign, and standalone patches signed by korvel-package. The
// plain console patcher, built without keys, still reads signed lists.
#include <gtest/gtest.h>

#include <filesystem>

#include "net/inet_test_servers.h"
#include "patch/signing/ListSignature.h"
#include "standalone_test_support.h"
#include "tools/sign/KeyFiles.h"

namespace {

namespace fs = std::filesystem;
using standalone_test::Quoted;
using standalone_test::RunResult;
using standalone_test::RunShell;
using standalone_test::StandaloneRunTest;
using standalone_test::TakeTree;

constexpr char kCompleted[] = "Patching completed.";
constexpr char kAborted[] = "Patching aborted.";
const fs::path kKeys = KORVEL_TEST_SIGNING_DIR;

std::string Tool(const char* path) {
  return Quoted(std::string(path));
}

class SignedDownloadRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    InetTest::PrepareClientEnvironment();
    MakeTree("100", {{"data/a.dat", std::string(40000, 'a')}, {"data/gone.dat", "removed by 200"}});
    MakeTree("200", {{"data/a.dat", std::string(40000, 'a') + "200"}, {"data/b.dat", "new in 200"}});
    MakeTree("300", {{"data/a.dat", std::string(40000, 'a') + "300"},
                     {"data/b.dat", "new in 200"},
                     {"data/c.dat", InetTest::PatternBytes(300000)}});
    fs::create_directories(Served());
    m_checksums["100"] = MakeArchive("100", "200");
    m_checksums["200"] = MakeArchive("200", "300");
    InstallCopyOf("100");
    RegisterInstall();
    ASSERT_TRUE(m_server.Start(Served().string()));
  }

  fs::path Served() const { return m_folder / "served"; }
  // Builds the archive onto the server; returns its "patch-data-sha256"
  // line as korvel-make-patch prints it.
  std::string MakeArchive(const std::string& source, const std::string& target) {
    const fs::path line = m_folder / "sha.txt";
    const std::string make = Tool(KORVEL_MAKE_PATCH) + " --old " + Quoted(TreePath(source)) + " --new " +
                             Quoted(TreePath(target)) + " --out " +
                             Quoted(Served() / (source + "_to_" + target + ".zip")) + " --print-sha256 >" +
                             Quoted(line);
    EXPECT_EQ(RunShell(make), 0) << make;
    return InetTest::ReadFile(line.string());
  }
  std::string Record(const std::string& source, const std::string& target) {
    return "source-version: " + source + "\ntarget-version: " + target +
           "\npatch-exe-url: http://unused/p.exe\npatch-data-url: " + source + "_to_" + target + ".zip\n" +
           m_checksums[source] + "\n";
  }
  std::string List(const std::string& expires = "2099-01-01T00:00:00Z") {
    return "list-expires: " + expires + "\n\n" + Record("100", "200") + Record("200", "300");
  }
  // Writes the list onto the server and signs it with a key of the
  // fixtures (or another key file); the exit code of korvel-sign.
  int PublishSigned(const std::string& list, const fs::path& secretKey, const fs::path& folder) {
    InetTest::WriteFile((folder / "patches.txt").string(), list);
    return RunShell(Tool(KORVEL_SIGN) + " sign-list --secret-key " + Quoted(secretKey) + " --list " +
                    Quoted(folder / "patches.txt"));
  }
  RunResult RunSigned(const std::string& server, const char* program = KORVEL_PATCHER_CLI_TESTKEYS) {
    return Run(program, {"KORVEL_RETRY_PAUSE_MS=10"},
               "--server " + server + " --final 300 100 " + Quoted(Install()));
  }

  InetTest::NginxServer m_server;
  std::map<std::string, std::string> m_checksums;
};

TEST_F(SignedDownloadRun, ListSignedByEitherKeyReachesTheFinalTree) {
  for (const char* key : {"publisher-a.key", "publisher-b.key"}) {
    InstallCopyOf("100");
    ASSERT_EQ(PublishSigned(List(), kKeys / key, Served()), 0);
    const RunResult result = RunSigned(m_server.BaseUrl());
    EXPECT_EQ(result.exitCode, 0) << key << "\n" << result.output;
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back(), kCompleted) << result.output;
    ExpectInstallEquals(TakeTree(TreePath("300")));
  }
  // A patcher without keys reads the signed list as any other.
  InstallCopyOf("100");
  const RunResult plain = RunSigned(m_server.BaseUrl(), KORVEL_PATCHER_CLI);
  EXPECT_EQ(plain.exitCode, 0) << plain.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));
}

TEST_F(SignedDownloadRun, BadOrMissingSignatureSkipsTheServerAndSaysWhy) {
  // The first server's list is signed by a key the patcher does not know,
  // the second has no signature at all, the third is good.
  InetTest::TempFolder strangerRoot, unsignedRoot;
  const fs::path stranger = fs::path(strangerRoot.Path());
  ASSERT_EQ(RunShell(Tool(KORVEL_SIGN) + " keygen --secret-key " + Quoted(stranger / "k.key") +
                     " --public-key " + Quoted(stranger / "k.pub") + " >/dev/null 2>&1"),
            0);
  InetTest::NginxServer strangerServer, unsignedServer;
  std::string absolute = List();
  for (const char* name : {"100_to_200.zip", "200_to_300.zip"}) {
    const std::size_t at = absolute.find(std::string("patch-data-url: ") + name);
    absolute.replace(at, 16 + std::string(name).size(), "patch-data-url: " + m_server.BaseUrl() + name);
  }
  ASSERT_EQ(PublishSigned(absolute, stranger / "k.key", stranger), 0);
  InetTest::WriteFile(unsignedRoot / "patches.txt", absolute);
  ASSERT_TRUE(strangerServer.Start(strangerRoot.Path()));
  ASSERT_TRUE(unsignedServer.Start(unsignedRoot.Path()));
  ASSERT_EQ(PublishSigned(List(), kKeys / "publisher-a.key", Served()), 0);
  m_folder.WriteFile("servers.txt", strangerServer.BaseUrl() + "\n" + unsignedServer.BaseUrl() + "\n" +
                                        m_server.BaseUrl() + "\n");
  const RunResult result =
      Run(KORVEL_PATCHER_CLI_TESTKEYS, {"KORVEL_RETRY_PAUSE_MS=10"},
          "--list " + Quoted(m_folder / "servers.txt") + " --final 300 100 " + Quoted(Install()));
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Patch list refused: " + strangerServer.BaseUrl() +
                              "patches.txt: its signature does not match the list and the publisher's keys"))
      << result.output;
  EXPECT_TRUE(result.Contains("Patch list refused: " + unsignedServer.BaseUrl() +
                              "patches.txt: it is not signed (no patches.txt.sig"))
      << result.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));

  // The good list changed by one byte after signing: no server is left.
  InstallCopyOf("100");
  std::string changed = List();
  changed[changed.find("target-version: 200") + 16] = '3';
  InetTest::WriteFile((Served() / "patches.txt").string(), changed);
  const RunResult tampered = RunSigned(m_server.BaseUrl());
  EXPECT_EQ(tampered.exitCode, 1) << tampered.output;
  EXPECT_TRUE(tampered.Contains("its signature does not match")) << tampered.output;
  EXPECT_TRUE(tampered.Contains("Unable to connect to any patch servers.")) << tampered.output;
  EXPECT_EQ(tampered.lines.back(), kAborted);
  ExpectInstallEquals(TakeTree(TreePath("100")));
}

TEST_F(SignedDownloadRun, ExpiredListIsRefused) {
  const fs::path list = Served() / "patches.txt";
  InetTest::WriteFile(list.string(), List("2020-01-01T00:00:00Z"));
  // korvel-sign does not sign a list that has expired ...
  EXPECT_EQ(RunShell(Tool(KORVEL_SIGN) + " sign-list --secret-key " + Quoted(kKeys / "publisher-a.key") +
                     " --list " + Quoted(list) + " 2>/dev/null"),
            2);
  // ... so the list is signed here as it was before it expired.
  NolkSign::KeyPair pair;
  std::string problem;
  ASSERT_TRUE(KorvelTools::ReadSecretKeyFile((kKeys / "publisher-a.key").wstring(), pair, problem))
      << problem;
  const std::string bytes = InetTest::ReadFile(list.string());
  InetTest::WriteFile(
      list.string() + ".sig",
      NolkSign::ListSignatureText(NolkSign::SignDetached(
          std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
          pair)));
  const RunResult result = RunSigned(m_server.BaseUrl());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains("patches.txt: it expired on 2020-01-01T00:00:00Z")) << result.output;
  EXPECT_EQ(result.lines.back(), kAborted);
  ExpectInstallEquals(TakeTree(TreePath("100")));
}

TEST_F(SignedDownloadRun, TamperedOrSwappedArchiveIsNeverUnpacked) {
  ASSERT_EQ(PublishSigned(List(), kKeys / "publisher-a.key", Served()), 0);
  const fs::path archive = Served() / "100_to_200.zip";
  const std::string original = InetTest::ReadFile(archive.string());
  std::string changed = original;
  changed[changed.size() / 2] ^= 1;
  InetTest::WriteFile(archive.string(), changed);
  RunResult result = RunSigned(m_server.BaseUrl());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains("The patch file does not match the checksum in the signed patch list: " +
                              m_server.BaseUrl() + "100_to_200.zip"))
      << result.output;
  EXPECT_FALSE(result.Contains("Unpacking patch file")) << result.output;
  EXPECT_EQ(result.lines.back(), kAborted);
  ExpectInstallEquals(TakeTree(TreePath("100")));
  EXPECT_FALSE(fs::exists(m_folder / "temp" / "100_to_200.zip"));

  // Another archive of the same server in its place: signed, but not this one.
  fs::copy_file(Served() / "200_to_300.zip", archive, fs::copy_options::overwrite_existing);
  result = RunSigned(m_server.BaseUrl());
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Contains("does not match the checksum")) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("100")));

  // The right archive again: the run goes through.
  InetTest::WriteFile(archive.string(), original);
  result = RunSigned(m_server.BaseUrl());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("300")));
}

// Standalone patches around the patcher with the test keys.
class SignedStandaloneRun : public StandaloneRunTest {
 protected:
  void SetUp() override {
    MakeTree("100", {{"data/a.dat", std::string(30000, 'a')}});
    MakeTree("200", {{"data/a.dat", std::string(30000, 'a') + "200"}, {"data/b.dat", "new"}});
    InstallCopyOf("100");
    RegisterInstall();
    fs::create_directories(m_folder / "archives");
    const std::string make = Tool(KORVEL_MAKE_PATCH) + " --old " + Quoted(TreePath("100")) + " --new " +
                             Quoted(TreePath("200")) + " --out " + Quoted(m_folder / "archives" / "a.arc");
    ASSERT_EQ(RunShell(make), 0) << make;
  }
  fs::path Patch() const { return m_folder / "signed-patch"; }
  void PackageWith(const std::string& signing) {
    fs::remove(Patch());
    const std::string command =
        Tool(KORVEL_PACKAGE) + " --patcher " + Tool(KORVEL_PATCHER_CLI_TESTKEYS) + " --out " +
        Quoted(Patch()) + " --final 200 --build " + Quoted(LauncherHash("100") + "=100") + " --patch " +
        Quoted("100:200:" + (m_folder / "archives" / "a.arc").string()) + " " + signing;
    ASSERT_EQ(RunShell(command), 0) << command;
  }
};

TEST_F(SignedStandaloneRun, SignedPatchAppliesUnsignedOrChangedPatchIsRefused) {
  PackageWith("");
  RunResult result = Run(Patch());
  EXPECT_NE(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Patch file refused: it carries no publisher signature.")) << result.output;
  EXPECT_TRUE(result.Contains("File error while reading patch data.")) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("100")));

  PackageWith("--sign-with " + Quoted(kKeys / "publisher-b.key"));
  std::string bytes = InetTest::ReadFile(Patch().string());
  std::string changed = bytes;
  changed[changed.size() - 200] ^= 1;
  InetTest::WriteFile(Patch().string(), changed);
  result = Run(Patch());
  EXPECT_NE(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Patch file refused: it was changed after it was signed")) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("100")));

  InetTest::WriteFile(Patch().string(), bytes);
  result = Run(Patch());
  EXPECT_EQ(result.exitCode, 0) << result.output;
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.back(), kCompleted) << result.output;
  ExpectInstallEquals(TakeTree(TreePath("200")));
}

}  // namespace
