// PatchPackage lookups: exact first-match semantics, terminators forced on
// every field, records re-read on every call, and damaged tables.
#include <gtest/gtest.h>

#include "package_test_support.h"
#include "patch/PatchPackage.h"

namespace {

using namespace packagetest;
using NolkPatch::PatchPackage;

const std::string kHashA = "0123456789abcdef0123456789abcdef";
const std::string kHashB = "fedcba9876543210fedcba9876543210";

class PackageLookup : public TempFolderTest {
 protected:
  void OpenPackage(const PackageLayoutPlan& plan) {
    m_bytes = BuildPackage(plan);
    m_path = m_root / "patch.exe";
    WriteFileBytes(m_path, m_bytes);
    ASSERT_EQ(m_package.Open(m_path.wstring()), NOLKRESULT_OK);
  }

  NolkPatch::PackageHeader Header() const { return HeaderOf(m_bytes, m_spec.headerOffset); }

  PackageLayoutPlan ChainSpec() {
    m_spec.headerOffset = 4096;
    m_spec.hashes = {{kHashA, "100"}, {kHashB, "200"}, {kHashA, "999"}};
    m_spec.patches = {{"100", "200", PatternBytes(64, 1)}, {"200", "300", PatternBytes(64, 2)}};
    return m_spec;
  }

  PackageLayoutPlan m_spec;
  Bytes m_bytes;
  std::filesystem::path m_path;
  PatchPackage m_package;
};

TEST_F(PackageLookup, BuildHashMatchesExactlyAndTheFirstRecordWins) {
  OpenPackage(ChainSpec());
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA), "100");
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashB), "200");
  EXPECT_EQ(m_package.FindVersionForBuildHash("0123456789ABCDEF0123456789ABCDEF"), "");
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA.substr(0, 31)), "");
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA + "0"), "");
  EXPECT_EQ(m_package.FindVersionForBuildHash(""), "");
}

TEST_F(PackageLookup, TargetVersionFollowsTheChainAndAFinalTargetHasNone) {
  OpenPackage(ChainSpec());
  EXPECT_EQ(m_package.FindTargetVersion("100"), "200");
  EXPECT_EQ(m_package.FindTargetVersion("200"), "300");
  EXPECT_EQ(m_package.FindTargetVersion("300"), "");
  EXPECT_EQ(m_package.FindTargetVersion("10"), "");
}

TEST_F(PackageLookup, FullWidthFieldsAreCutTo31Characters) {
  m_spec.hashes = {{std::string(132, 'h'), std::string(32, 'v')}};
  m_spec.patches = {{std::string(32, 's'), std::string(32, 't'), PatternBytes(8, 3)}};
  OpenPackage(m_spec);
  EXPECT_EQ(m_package.FindVersionForBuildHash(std::string(131, 'h')), std::string(31, 'v'));
  EXPECT_EQ(m_package.FindVersionForBuildHash(std::string(132, 'h')), "");
  EXPECT_EQ(m_package.FindTargetVersion(std::string(31, 's')), std::string(31, 't'));
}

TEST_F(PackageLookup, NothingIsFoundWhileClosedOrInEmptyTables) {
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA), "");
  EXPECT_EQ(m_package.FindTargetVersion("100"), "");
  OpenPackage(m_spec);
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA), "");
  EXPECT_EQ(m_package.FindTargetVersion("100"), "");
}

TEST_F(PackageLookup, TablesReachingPastTheFileFindNothing) {
  OpenPackage(ChainSpec());
  const NolkPatch::PackageHeader good = Header();
  NolkPatch::PackageHeader header = good;
  header.buildHashTableOffset = m_bytes.size() - 10;
  header.patchTableOffset = ~std::uint64_t{0} - 20;
  PutHeader(m_bytes, m_spec.headerOffset, header);
  WriteFileBytes(m_path, m_bytes);
  ASSERT_EQ(m_package.Open(m_path.wstring()), NOLKRESULT_OK);
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA), "");
  EXPECT_EQ(m_package.FindTargetVersion("100"), "");

  header = good;
  header.buildHashCount = 0xFFFFFFFF;
  header.patchCount = 3;  // one record more than the file holds behind the table
  PutHeader(m_bytes, m_spec.headerOffset, header);
  WriteFileBytes(m_path, m_bytes);
  ASSERT_EQ(m_package.Open(m_path.wstring()), NOLKRESULT_OK);
  EXPECT_EQ(m_package.FindVersionForBuildHash(kHashA), "");
  EXPECT_EQ(m_package.FindTargetVersion("100"), "");
}

}  // namespace
