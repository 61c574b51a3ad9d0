// PatchPackage::Open: the header scan at multiples of 4,096 and the size
// check, with packages built by the shared encoders.
#include <gtest/gtest.h>

#include "KernelStandard/platform/Platform.h"
#include "package_test_support.h"
#include "patch/PatchPackage.h"

namespace {

using namespace packagetest;
using NolkPatch::PatchPackage;

class PackageOpen : public TempFolderTest {
 protected:
  std::wstring Write(const Bytes& bytes) {
    const std::filesystem::path path = m_root / "patch.exe";
    WriteFileBytes(path, bytes);
    return path.wstring();
  }
  NolkResult OpenBytes(const Bytes& bytes) { return m_package.Open(Write(bytes)); }

  static PackageSpec Spec(std::uint64_t headerOffset) {
    PackageSpec spec;
    spec.prefix = TextBytes("MZ stand-in for the executable image");
    spec.headerOffset = headerOffset;
    spec.hashes = {{"0123456789abcdef0123456789abcdef", "39979"}};
    spec.patches = {{"39979", "40040", PatternBytes(300, 1)}};
    return spec;
  }

  PatchPackage m_package;
};

TEST_F(PackageOpen, FindsAHeaderAtTheStartOfTheFile) {
  PackageSpec spec = Spec(0);
  spec.prefix.clear();
  ASSERT_EQ(OpenBytes(BuildPackage(spec)), NOLKRESULT_OK);
  EXPECT_TRUE(m_package.IsOpen());
  EXPECT_EQ(m_package.GetHeaderPosition(), 0u);
  EXPECT_EQ(m_package.GetBuild(), "40040");
}

TEST_F(PackageOpen, FindsAHeaderBehindTheExecutableAtAMultipleOf4096) {
  ASSERT_EQ(OpenBytes(BuildPackage(Spec(3 * 4096))), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetHeaderPosition(), 3u * 4096);
  EXPECT_EQ(m_package.GetBuild(), "40040");
  EXPECT_EQ(m_package.FindVersionForBuildHash("0123456789abcdef0123456789abcdef"), "39979");
}

TEST_F(PackageOpen, IgnoresAHeaderOffTheGrid) {
  EXPECT_EQ(OpenBytes(BuildPackage(Spec(2 * 4096 + 8))), NOLKRESULT_NOT_SUPPORTED);
  EXPECT_FALSE(m_package.IsOpen());
  EXPECT_EQ(m_package.GetHeaderPosition(), ~std::uint64_t{0});
  EXPECT_EQ(m_package.GetBuild(), "");
}

TEST_F(PackageOpen, FilesWithoutMagicAreNotPackages) {
  EXPECT_EQ(OpenBytes(PatternBytes(5 * 4096 + 100, 7)), NOLKRESULT_NOT_SUPPORTED);
  EXPECT_EQ(OpenBytes(TextBytes("N0o1l2k")), NOLKRESULT_NOT_SUPPORTED);
  EXPECT_EQ(OpenBytes({}), NOLKRESULT_NOT_SUPPORTED);
}

TEST_F(PackageOpen, MagicWithoutRoomForAWholeHeaderIsNotFound) {
  Bytes bytes = BuildPackage(Spec(4096));
  bytes.resize(4096 + 71);
  EXPECT_EQ(OpenBytes(bytes), NOLKRESULT_NOT_SUPPORTED);
}

TEST_F(PackageOpen, TheTestProgramItselfCarriesNoPackage) {
  EXPECT_EQ(m_package.Open(OS::Current().ExecutablePath()), NOLKRESULT_NOT_SUPPORTED);
}

TEST_F(PackageOpen, ALengthOtherThanTheHeadersFileSizeIsAFileError) {
  Bytes extended = BuildPackage(Spec(4096));
  extended.push_back(0);
  EXPECT_EQ(OpenBytes(extended), NOLKRESULT_FILE_ERROR);
  EXPECT_FALSE(m_package.IsOpen());

  Bytes truncated = BuildPackage(Spec(4096));
  truncated.pop_back();
  EXPECT_EQ(OpenBytes(truncated), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(m_package.GetBuild(), "");
}

TEST_F(PackageOpen, TheFirstMagicOnTheGridDecides) {
  // A stale header at 4,096 in front of the real one at 8,192: the scan
  // stops at the first, whose size does not match.
  Bytes bytes = BuildPackage(Spec(2 * 4096));
  NolkPatch::PackageHeader stale = HeaderOf(bytes, 2 * 4096);
  stale.fileSize = 1;
  PutHeader(bytes, 4096, stale);
  EXPECT_EQ(OpenBytes(bytes), NOLKRESULT_FILE_ERROR);
}

TEST_F(PackageOpen, AMissingFileIsAFileError) {
  EXPECT_EQ(m_package.Open((m_root / "missing.exe").wstring()), NOLKRESULT_FILE_ERROR);
}

TEST_F(PackageOpen, AFullWidthBuildFieldReadsBackAs31Characters) {
  PackageSpec spec = Spec(0);
  spec.build = std::string(32, '9');
  ASSERT_EQ(OpenBytes(BuildPackage(spec)), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetBuild(), std::string(31, '9'));
}

TEST_F(PackageOpen, ReopeningReleasesThePreviousPackage) {
  ASSERT_EQ(OpenBytes(BuildPackage(Spec(0))), NOLKRESULT_OK);
  const std::filesystem::path other = m_root / "other.exe";
  PackageSpec spec = Spec(4096);
  spec.build = "50000";
  WriteFileBytes(other, BuildPackage(spec));
  ASSERT_EQ(m_package.Open(other.wstring()), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetBuild(), "50000");
  EXPECT_EQ(m_package.GetHeaderPosition(), 4096u);

  EXPECT_EQ(m_package.Open((m_root / "missing.exe").wstring()), NOLKRESULT_FILE_ERROR);
  EXPECT_FALSE(m_package.IsOpen());
  EXPECT_EQ(m_package.GetBuild(), "");
  EXPECT_EQ(m_package.FindTargetVersion("39979"), "");
}

}  // namespace
