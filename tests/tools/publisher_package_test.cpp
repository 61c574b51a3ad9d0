// The packager: a standalone patch read back through PatchPackage, its
// layout, and what it refuses.
#include <unistd.h>

#include "patch/PatchArchive.h"
#include "patch/PatchPackage.h"
#include "publisher_test_support.h"
#include "tools/publisher/ArchiveBuilder.h"
#include "tools/publisher/PackageLayout.h"
#include "tools/publisher/Packager.h"
#include "tools/publisher/PublisherCommands.h"

namespace PublisherTest {
namespace {

namespace fs = std::filesystem;
using KorvelTools::PackageOptions;
using KorvelTools::PublisherResult;
using KorvelTools::PublisherStatus;

constexpr std::size_t kPatcherSize = 5000;  // not a multiple of 4,096

Bytes ArchiveBytes(std::size_t length, unsigned seed) {
  Bytes bytes = ProgramLike(length, seed);
  bytes[0] = 1;
  bytes[1] = bytes[2] = bytes[3] = 0;
  return bytes;
}

class PackagerTest : public PublisherFolderTest {
 protected:
  void SetUp() override {
    PublisherFolderTest::SetUp();
    m_patcher = ProgramLike(kPatcherSize, 7);
    fs::permissions(Write("patcher.exe", m_patcher), fs::perms(0755));
    m_firstArchive = ArchiveBytes(3000, 8);
    m_secondArchive = ArchiveBytes(1234, 9);
    Write("a1.arc", m_firstArchive);
    Write("a2.arc", m_secondArchive);
    m_oldHash = Md5Of(BytesOf("launcher of build 100"));
    m_middleHash = Md5Of(BytesOf("launcher of build 200"));
    m_options = {Wide("patcher.exe"),
                 Wide("standalone.exe"),
                 "300",
                 {{m_oldHash, "100"}, {m_middleHash, "200"}},
                 {{"100", "200", Wide("a1.arc")}, {"200", "300", Wide("a2.arc")}}};
  }

  void ExpectRefused(const std::string& detail) {
    const PublisherResult result = KorvelTools::BuildPackage(m_options);
    EXPECT_EQ(result.status, PublisherStatus::Refused) << result.message;
    EXPECT_NE(result.message.find(detail), std::string::npos) << result.message;
    EXPECT_FALSE(fs::exists(m_root / "standalone.exe"));
    for (const auto& entry : fs::directory_iterator(m_root))
      EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
  }

  Bytes m_patcher, m_firstArchive, m_secondArchive;
  std::string m_oldHash, m_middleHash;
  PackageOptions m_options;
};

TEST_F(PackagerTest, StandalonePatchReadsBackThroughThePackageReader) {
  const PublisherResult result = KorvelTools::BuildPackage(m_options);
  ASSERT_TRUE(result.Ok()) << result.message;
  NolkPatch::PatchPackage package;
  ASSERT_EQ(package.Open(Wide("standalone.exe")), NOLKRESULT_OK);
  EXPECT_EQ(package.GetHeaderPosition(), 8192u);
  EXPECT_EQ(package.GetBuild(), "300");
  EXPECT_EQ(package.FindVersionForBuildHash(m_oldHash), "100");
  EXPECT_EQ(package.FindVersionForBuildHash(m_middleHash), "200");
  EXPECT_EQ(package.FindTargetVersion("100"), "200");
  EXPECT_EQ(package.FindTargetVersion("200"), "300");
  EXPECT_EQ(package.FindTargetVersion("300"), "");
  ASSERT_EQ(package.ExtractPatch("100", Wide("out1.arc")), NOLKRESULT_OK);
  ASSERT_EQ(package.ExtractPatch("200", Wide("out2.arc")), NOLKRESULT_OK);
  EXPECT_EQ(ReadFile(m_root / "out1.arc"), m_firstArchive);
  EXPECT_EQ(ReadFile(m_root / "out2.arc"), m_secondArchive);
}

TEST_F(PackagerTest, ExecutableComesFirstPaddedWithZerosAndStaysExecutable) {
  ASSERT_TRUE(KorvelTools::BuildPackage(m_options).Ok());
  const Bytes standalone = ReadFile(m_root / "standalone.exe");
  const std::size_t expectedSize = 8192 + 72 + 3000 + 1234 + 2 * 164 + 2 * 80;
  ASSERT_EQ(standalone.size(), expectedSize);
  EXPECT_TRUE(std::equal(m_patcher.begin(), m_patcher.end(), standalone.begin()));
  EXPECT_TRUE(std::all_of(standalone.begin() + kPatcherSize, standalone.begin() + 8192,
                          [](auto b) { return b == 0; }));
  EXPECT_TRUE(std::equal(NolkPatch::kPackageMagic.begin(), NolkPatch::kPackageMagic.end(),
                         standalone.begin() + 8192));
#ifndef _WIN32
  // Executable (Windows has no such bit: any .exe file runs).
  EXPECT_EQ(access((m_root / "standalone.exe").c_str(), X_OK), 0);
#endif
}

TEST_F(PackagerTest, HeaderCarriesTotalSizeAndTableOffsets) {
  ASSERT_TRUE(KorvelTools::BuildPackage(m_options).Ok());
  const Bytes standalone = ReadFile(m_root / "standalone.exe");
  const NolkPatch::PackageHeader header = NolkPatch::DecodePackageHeader(
      std::span<const std::uint8_t, NolkPatch::kPackageHeaderSize>(standalone.data() + 8192, 72));
  EXPECT_EQ(header.fileSize, standalone.size());
  EXPECT_EQ(header.buildHashCount, 2u);
  EXPECT_EQ(header.patchCount, 2u);
  EXPECT_EQ(header.buildHashTableOffset, 8192u + 72 + 3000 + 1234);
  EXPECT_EQ(header.patchTableOffset, header.buildHashTableOffset + 2 * 164);
  EXPECT_EQ(header.patchTableOffset + 2 * 80, standalone.size());
  EXPECT_EQ(header.reserved, 0u);
}

TEST(PackageLayout, AlignedPatcherNeedsNoPadding) {
  const auto layout = KorvelTools::PlanPackageLayout(8192, {10, 20}, 1);
  EXPECT_EQ(layout.paddingLength, 0u);
  EXPECT_EQ(layout.headerOffset, 8192u);
  EXPECT_EQ(layout.archiveOffsets, (std::vector<std::uint64_t>{8264, 8274}));
  EXPECT_EQ(layout.totalSize, 8294u + 164 + 2 * 80);
}

TEST(PackageLayout, ResultMustStayBelowFourGiB) {
  const std::uint64_t fourGiB = std::uint64_t{1} << 32;
  const std::uint64_t fixed = 4096 + 72 + 164 + 80;
  EXPECT_TRUE(
      KorvelTools::CheckPackageSize(KorvelTools::PlanPackageLayout(4096, {fourGiB - 1 - fixed}, 1)).Ok());
  const PublisherResult refused =
      KorvelTools::CheckPackageSize(KorvelTools::PlanPackageLayout(4096, {fourGiB - fixed}, 1));
  EXPECT_EQ(refused.status, PublisherStatus::Refused);
  EXPECT_NE(refused.message.find("4 GiB"), std::string::npos);
}

TEST(PackageLayout, HugeSizesSaturateInsteadOfWrapping) {
  const std::uint64_t huge = ~std::uint64_t{0} - 10;
  const auto layout = KorvelTools::PlanPackageLayout(4096, {huge, huge}, 3);
  EXPECT_EQ(layout.totalSize, ~std::uint64_t{0});
  EXPECT_FALSE(KorvelTools::CheckPackageSize(layout).Ok());
}

TEST_F(PackagerTest, VersionsMustFitTheirFields) {
  m_options.finalVersion = std::string(31, '9');
  m_options.patches[1].targetVersion = m_options.finalVersion;
  EXPECT_TRUE(KorvelTools::ValidatePackageOptions(m_options).Ok());
  m_options.finalVersion = std::string(32, '9');
  m_options.patches[1].targetVersion = m_options.finalVersion;
  ExpectRefused("longer than 31");
}

TEST_F(PackagerTest, EmptyOrControlCharacterVersionsAreRefused) {
  m_options.builds[0].version = "";
  ExpectRefused("empty");
  m_options.builds[0].version = "10\n0";
  ExpectRefused("control character");
}

TEST_F(PackagerTest, HashMustBeThirtyTwoLowerCaseHexDigits) {
  const std::string good = m_options.builds[0].hash;
  for (const std::string& bad :
       {good.substr(1), good + "0", std::string(32, 'A'), std::string(32, 'g'), std::string(140, 'a')}) {
    m_options.builds[0].hash = bad;
    ExpectRefused("build hash");
  }
}

TEST_F(PackagerTest, DuplicateBuildHashIsRefused) {
  m_options.builds[1].hash = m_options.builds[0].hash;
  ExpectRefused("given twice");
}

TEST_F(PackagerTest, DuplicateSourceVersionIsRefused) {
  m_options.patches.push_back({"100", "300", Wide("a2.arc")});
  ExpectRefused("more than one patch starts at version 100");
}

TEST_F(PackagerTest, EveryBuildMustReachTheFinalVersion) {
  m_options.builds.push_back({Md5Of(BytesOf("stray")), "150"});
  ExpectRefused("no patch leads on from version 150");
}

TEST_F(PackagerTest, LoopingChainIsRefused) {
  m_options.patches[1].targetVersion = "100";
  ExpectRefused("loop");
}

TEST_F(PackagerTest, MissingArchiveIsRefused) {
  m_options.patches[1].archivePath = Wide("missing.arc");
  ExpectRefused("missing.arc");
}

TEST_F(PackagerTest, MissingPatcherIsRefused) {
  m_options.patcherPath = Wide("missing.exe");
  ExpectRefused("missing.exe");
}

TEST_F(PackagerTest, ArchiveOfAnotherFormatIsRefused) {
  Write("a2.arc", "not an archive");
  ExpectRefused("format version 1");
}

TEST_F(PackagerTest, PatcherThatAlreadyCarriesAPackageIsRefused) {
  ASSERT_TRUE(KorvelTools::BuildPackage(m_options).Ok());
  m_options.patcherPath = Wide("standalone.exe");
  m_options.outputPath = Wide("second.exe");
  const PublisherResult result = KorvelTools::BuildPackage(m_options);
  EXPECT_EQ(result.status, PublisherStatus::Refused);
  EXPECT_NE(result.message.find("already carries a package at offset 8192"), std::string::npos)
      << result.message;
  EXPECT_FALSE(fs::exists(m_root / "second.exe"));
}

TEST_F(PackagerTest, CommandLineBuildsAndPrintsHashes) {
  const std::string root = m_root.string();
  // The command takes only a real program as the patcher.
  fs::copy_file(VPATCH_TOOL, m_root / "program.exe");
  EXPECT_EQ(KorvelTools::RunPackage({"--patcher", root + "/program.exe", "--out", root + "/standalone.exe",
                                     "--final", "300", "--build", m_oldHash + "=100", "--build",
                                     m_middleHash + "=200", "--patch", "100:200:" + root + "/a1.arc",
                                     "--patch", "200:300:" + root + "/a2.arc"}),
            0);
  NolkPatch::PatchPackage package;
  EXPECT_EQ(package.Open(Wide("standalone.exe")), NOLKRESULT_OK);
  EXPECT_EQ(KorvelTools::RunPackage({"--patcher", root + "/patcher.exe", "--out", root + "/x.exe", "--final",
                                     "300", "--build", m_oldHash, "--patch", "100:300:" + root + "/a1.arc"}),
            2);
  EXPECT_EQ(KorvelTools::RunPackage({"--patcher", root + "/patcher.exe", "--final", "300"}), 2);
  EXPECT_EQ(KorvelTools::RunPackage({"--hash-of", root + "/missing"}), 2);
  EXPECT_FALSE(fs::exists(m_root / "x.exe"));
}

TEST_F(PackagerTest, BuiltArchiveSurvivesPackagingAndUnpacks) {
  Write("old/bin/Launcher.exe", "launcher of build 100");
  Write("new/bin/Launcher.exe", "launcher of build 200");
  Write("new/data/added.txt", "added");
  const PublisherResult built = KorvelTools::BuildPatchArchive({Wide("old"), Wide("new"), Wide("built.arc")});
  ASSERT_TRUE(built.Ok()) << built.message;
  std::string hash;
  ASSERT_TRUE(KorvelTools::BuildHashOfFile(Wide("old/bin/Launcher.exe"), hash));
  m_options.finalVersion = "200";
  m_options.builds = {{hash, "100"}};
  m_options.patches = {{"100", "200", Wide("built.arc")}};
  ASSERT_TRUE(KorvelTools::BuildPackage(m_options).Ok());
  NolkPatch::PatchPackage package;
  ASSERT_EQ(package.Open(Wide("standalone.exe")), NOLKRESULT_OK);
  const std::string version = package.FindVersionForBuildHash(hash);
  ASSERT_EQ(version, "100");
  ASSERT_EQ(package.ExtractPatch(version, Wide("extracted.arc")), NOLKRESULT_OK);
  ASSERT_TRUE(NolkPatch::UnpackPatchArchive(Wide("extracted.arc"), Wide("unpacked")));
  EXPECT_EQ(ReadText(m_root / "unpacked/data/data/added.txt"), "added");
  EXPECT_NE(
      ReadText(m_root / "unpacked/patchedFiles.txt")
          .find("bin\\Launcher.exe\r\n" + Md5Of(BytesOf("launcher of build 200")) + "\r\n" + hash + "\r\n"),
      std::string::npos);
}

TEST_F(PackagerTest, HashOfIsTheBuildHash) {
  Write("bin/Launcher.exe", "launcher of build 100");
  std::string hash;
  ASSERT_TRUE(KorvelTools::BuildHashOfFile(Wide("bin/Launcher.exe"), hash));
  EXPECT_EQ(hash, m_oldHash);
}

}  // namespace
}  // namespace PublisherTest
