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

  static PackageLayoutPlan Plan(std::uint64_t headerOffset) {
    PackageLayoutPlan plan;
    plan.prefix = TextBytes("MZ stand-in for the executable image");
    plan.headerOffset = headerOffset;
    plan.hashes = {{"0123456789abcdef0123456789abcdef", "39979"}};
    plan.patches = {{"39979", "40040", PatternBytes(300, 1)}};
    return plan;
  }

  PatchPackage m_package;
};

TEST_F(PackageOpen, FindsAHeaderAtTheStartOfTheFile) {
  PackageLayoutPlan plan = Plan(0);
  plan.prefix.clear();
  ASSERT_EQ(OpenBytes(BuildPackage(plan)), NOLKRESULT_OK);
  EXPECT_TRUE(m_package.IsOpen());
  EXPECT_EQ(m_package.GetHeaderPosition(), 0u);
  EXPECT_EQ(m_package.GetBuild(), "40040");
}

TEST_F(PackageOpen, FindsAHeaderBehindTheExecutableAtAMultipleOf4096) {
  ASSERT_EQ(OpenBytes(BuildPackage(Plan(3 * 4096))), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetHeaderPosition(), 3u * 4096);
  EXPECT_EQ(m_package.GetBuild(), "40040");
  EXPECT_EQ(m_package.FindVersionForBuildHash("0123456789abcdef0123456789abcdef"), "39979");
}

TEST_F(PackageOpen, IgnoresAHeaderOffTheGrid) {
  EXPECT_EQ(OpenBytes(BuildPackage(Plan(2 * 4096 + 8))), NOLKRESULT_NOT_SUPPORTED);
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
  Bytes bytes = BuildPackage(Plan(4096));
  bytes.resize(4096 + 71);
  EXPECT_EQ(OpenBytes(bytes), NOLKRESULT_NOT_SUPPORTED);
}

TEST_F(PackageOpen, TheTestProgramItselfCarriesNoPackage) {
  EXPECT_EQ(m_package.Open(OS::Current().ExecutablePath()), NOLKRESULT_NOT_SUPPORTED);
}

TEST_F(PackageOpen, ALengthOtherThanTheHeadersFileSizeIsAFileError) {
  Bytes extended = BuildPackage(Plan(4096));
  extended.push_back(0);
  EXPECT_EQ(OpenBytes(extended), NOLKRESULT_FILE_ERROR);
  EXPECT_FALSE(m_package.IsOpen());

  Bytes truncated = BuildPackage(Plan(4096));
  truncated.pop_back();
  EXPECT_EQ(OpenBytes(truncated), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(m_package.GetBuild(), "");
}

TEST_F(PackageOpen, AFileOf4GiBOrMoreNeverMatchesTheSizeFieldLarge) {
  // The size field holds the length modulo 2^32; the file is sparse, so this
  // costs no disk space where the file system supports holes.
  const Bytes bytes = BuildPackage(Plan(0));
  const std::wstring path = Write(bytes);
  std::filesystem::resize_file(m_root / "patch.exe", (std::uint64_t{1} << 32) + bytes.size());
  EXPECT_EQ(m_package.Open(path), NOLKRESULT_FILE_ERROR);
}

TEST_F(PackageOpen, TheFirstMagicOnTheGridDecides) {
  // A stale header at 4,096 in front of the real one at 8,192: the scan
  // stops at the first, whose size does not match.
  Bytes bytes = BuildPackage(Plan(2 * 4096));
  NolkPatch::PackageHeader stale = HeaderOf(bytes, 2 * 4096);
  stale.fileSize = 1;
  PutHeader(bytes, 4096, stale);
  EXPECT_EQ(OpenBytes(bytes), NOLKRESULT_FILE_ERROR);
}

TEST_F(PackageOpen, AMissingFileIsAFileError) {
  EXPECT_EQ(m_package.Open((m_root / "missing.exe").wstring()), NOLKRESULT_FILE_ERROR);
}

TEST_F(PackageOpen, AFullWidthBuildFieldReadsBackAs31Characters) {
  PackageLayoutPlan plan = Plan(0);
  plan.build = std::string(32, '9');
  ASSERT_EQ(OpenBytes(BuildPackage(plan)), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetBuild(), std::string(31, '9'));
}

TEST_F(PackageOpen, ReopeningReleasesThePreviousPackage) {
  ASSERT_EQ(OpenBytes(BuildPackage(Plan(0))), NOLKRESULT_OK);
  const std::filesystem::path other = m_root / "other.exe";
  PackageLayoutPlan plan = Plan(4096);
  plan.build = "50000";
  WriteFileBytes(other, BuildPackage(plan));
  ASSERT_EQ(m_package.Open(other.wstring()), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetBuild(), "50000");
  EXPECT_EQ(m_package.GetHeaderPosition(), 4096u);

  EXPECT_EQ(m_package.Open((m_root / "missing.exe").wstring()), NOLKRESULT_FILE_ERROR);
  EXPECT_FALSE(m_package.IsOpen());
  EXPECT_EQ(m_package.GetBuild(), "");
  EXPECT_EQ(m_package.FindTargetVersion("39979"), "");
}

}  // namespace
