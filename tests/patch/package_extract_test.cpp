// PatchPackage::ExtractPatch: its result codes and the copied archive.
#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "package_test_support.h"
#include "patch/PatchPackage.h"

namespace {

using namespace packagetest;
using NolkPatch::PatchPackage;

class PackageExtract : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    m_spec.prefix = PatternBytes(5000, 9);
    m_spec.headerOffset = 8192;
    m_spec.patches = {
        {"100", "200", PatternBytes(200000, 1)}, {"200", "300", PatternBytes(1000, 2)}, {"300", "400", {}}};
    Build();
  }

  void Build() {
    m_bytes = BuildPackage(m_spec);
    m_path = m_root / "patch.exe";
    WriteFileBytes(m_path, m_bytes);
  }
  void OpenPackage() { ASSERT_EQ(m_package.Open(m_path.wstring()), NOLKRESULT_OK); }
  std::wstring Output() const { return (m_root / "archive.tmp").wstring(); }

  PackageLayoutPlan m_spec;
  Bytes m_bytes;
  std::filesystem::path m_path;
  PatchPackage m_package;
};

TEST_F(PackageExtract, CopiesEachArchiveByteForByte) {
  OpenPackage();
  ASSERT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_OK);
  EXPECT_EQ(ReadFileBytes(Output()), m_spec.patches[0].archive);
  ASSERT_EQ(m_package.ExtractPatch("200", Output()), NOLKRESULT_OK);
  EXPECT_EQ(ReadFileBytes(Output()), m_spec.patches[1].archive);
}

TEST_F(PackageExtract, AnEmptyArchiveGivesAnEmptyFile) {
  OpenPackage();
  WriteFileBytes(Output(), TextBytes("stale content"));
  ASSERT_EQ(m_package.ExtractPatch("300", Output()), NOLKRESULT_OK);
  EXPECT_TRUE(std::filesystem::exists(Output()));
  EXPECT_EQ(std::filesystem::file_size(Output()), 0u);
}

TEST_F(PackageExtract, NeedsAnOpenPackage) {
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_NOT_OPEN);
  EXPECT_FALSE(std::filesystem::exists(Output()));
}

TEST_F(PackageExtract, AnUnknownSourceVersionHasNoRecord) {
  OpenPackage();
  EXPECT_EQ(m_package.ExtractPatch("400", Output()), NolkPatch::PACKAGERESULT_NO_RECORD);
  EXPECT_FALSE(std::filesystem::exists(Output()));

  m_spec.patches.clear();
  Build();
  OpenPackage();
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NolkPatch::PACKAGERESULT_NO_RECORD);
}

TEST_F(PackageExtract, AnOutputInAMissingFolderCannotBeCreated) {
  OpenPackage();
  const std::wstring output = (m_root / "missing" / "archive.tmp").wstring();
  EXPECT_EQ(m_package.ExtractPatch("100", output), NolkPatch::PACKAGERESULT_CANNOT_CREATE_OUTPUT);
}

TEST_F(PackageExtract, AnArchiveReachingPastTheFileIsRefusedWithoutOutput) {
  const std::uint64_t headerOffset = m_spec.headerOffset;
  NolkPatch::PackageHeader header = HeaderOf(m_bytes, headerOffset);
  const std::size_t record = header.patchTableOffset;
  auto setRange = [&](std::uint64_t offset, std::uint64_t length) {
    NolkPatch::PatchEntry entry = NolkPatch::DecodePatchEntry(
        std::span<const std::uint8_t, NolkPatch::kPatchEntrySize>(m_bytes.data() + record, 80));
    entry.dataOffset = offset;
    entry.dataLength = length;
    const NolkPatch::PatchEntryBytes bytes = NolkPatch::EncodePatchEntry(entry);
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(record));
    WriteFileBytes(m_path, m_bytes);
    OpenPackage();
  };

  setRange(m_bytes.size() - 10, 11);
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_END_OF_DATA);
  EXPECT_FALSE(std::filesystem::exists(Output()));
  setRange(10, ~std::uint64_t{0});
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_END_OF_DATA);
  setRange(~std::uint64_t{0}, 2);
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_END_OF_DATA);
  // Right up to the last byte is still inside.
  setRange(m_bytes.size() - 10, 10);
  ASSERT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_OK);
  EXPECT_EQ(ReadFileBytes(Output()), Bytes(m_bytes.end() - 10, m_bytes.end()));
}

TEST_F(PackageExtract, APatchTableReachingPastTheFileEndsOfData) {
  NolkPatch::PackageHeader header = HeaderOf(m_bytes, m_spec.headerOffset);
  header.patchCount = 4;
  PutHeader(m_bytes, m_spec.headerOffset, header);
  WriteFileBytes(m_path, m_bytes);
  OpenPackage();
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_END_OF_DATA);
  EXPECT_FALSE(std::filesystem::exists(Output()));
}

TEST_F(PackageExtract, AFailingWritePassesTheBuffersCodeOn) {
  OpenPackage();
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "WriteStream";
  rule.pathContains = "archive.tmp";
  faults.Add(rule);
  EXPECT_EQ(m_package.ExtractPatch("100", Output()), NOLKRESULT_FILE_ERROR);
}

}  // namespace
