// The package records' byte layout: field positions, byte order and text
// field handling, independent of the reader.
#include <gtest/gtest.h>

#include "patch/PackageFormat.h"

namespace {

using namespace NolkPatch;

std::uint64_t LittleEndianAt(const std::uint8_t* bytes, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return value;
}

TEST(PackageFormat, HeaderFieldsSitAtTheirPackedOffsets) {
  PackageHeader header;
  SetTextField(header.build, "40040");
  header.fileSize = 0x11223344;
  header.buildHashCount = 0x55667788;
  header.buildHashTableOffset = 0x0102030405060708;
  header.patchCount = 0x99AABBCC;
  header.patchTableOffset = 0x1112131415161718;
  const PackageHeaderBytes bytes = EncodePackageHeader(header);

  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "N0o1l2k3");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 8)), "40040");
  EXPECT_EQ(LittleEndianAt(bytes.data() + 40, 4), 0x11223344u);
  EXPECT_EQ(LittleEndianAt(bytes.data() + 44, 4), 0x55667788u);
  EXPECT_EQ(LittleEndianAt(bytes.data() + 48, 8), 0x0102030405060708u);
  EXPECT_EQ(LittleEndianAt(bytes.data() + 56, 4), 0x99AABBCCu);
  EXPECT_EQ(LittleEndianAt(bytes.data() + 60, 8), 0x1112131415161718u);
  EXPECT_EQ(LittleEndianAt(bytes.data() + 68, 4), 0u);
}

TEST(PackageFormat, RecordsRoundTripThroughTheirBytes) {
  PackageHeader header;
  SetTextField(header.build, "39979");
  header.fileSize = 3011753;
  header.buildHashCount = 1;
  header.buildHashTableOffset = 3011509;
  header.patchCount = 1;
  header.patchTableOffset = 3011673;
  const PackageHeader header2 = DecodePackageHeader(EncodePackageHeader(header));
  EXPECT_EQ(EncodePackageHeader(header2), EncodePackageHeader(header));
  EXPECT_EQ(header2.patchTableOffset, 3011673u);
  EXPECT_TRUE(HasPackageMagic(header2));

  BuildHashEntry hash;
  SetTextField(hash.hash, "0123456789abcdef0123456789abcdef");
  SetTextField(hash.version, "39979");
  const BuildHashEntryBytes hashBytes = EncodeBuildHashEntry(hash);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(hashBytes.data() + 132)), "39979");
  EXPECT_EQ(TextFieldValue(DecodeBuildHashEntry(hashBytes).hash), "0123456789abcdef0123456789abcdef");

  PatchEntry patch;
  SetTextField(patch.sourceVersion, "39979");
  SetTextField(patch.targetVersion, "40040");
  patch.dataOffset = 1650760;
  patch.dataLength = 1360749;
  const PatchEntryBytes patchBytes = EncodePatchEntry(patch);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(patchBytes.data() + 32)), "40040");
  EXPECT_EQ(LittleEndianAt(patchBytes.data() + 64, 8), 1650760u);
  EXPECT_EQ(LittleEndianAt(patchBytes.data() + 72, 8), 1360749u);
  const PatchEntry patch2 = DecodePatchEntry(patchBytes);
  EXPECT_EQ(TextFieldValue(patch2.sourceVersion), "39979");
  EXPECT_EQ(patch2.dataLength, 1360749u);
}

TEST(PackageFormat, FullWidthTextLosesItsLastCharacterOnceTerminated) {
  TextField<kBuildFieldSize> field;
  SetTextField(field, std::string(40, '7'));
  EXPECT_EQ(TextFieldValue(field), std::string(32, '7'));
  ForceTerminator(field);
  EXPECT_EQ(TextFieldValue(field), std::string(31, '7'));

  SetTextField(field, "1");
  EXPECT_EQ(TextFieldValue(field), "1");
  EXPECT_EQ(field[1], '\0');
  EXPECT_EQ(field[31], '\0');
}

}  // namespace
