// The CRC-32, the delete-file record encoding and the list line splitting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patch/Crc32.h"
#include "patch/UninstallLogFiles.h"
#include "patch/UninstallLogFormat.h"
#include "uninstlog_builder.h"

namespace {

using NolkPatch::BuildDeleteFileRecord;
using NolkPatch::ByteVector;
using NolkPatch::Crc32;

std::uint32_t CrcOfText(const std::string& text) {
  return Crc32::Of(text.data(), text.size());
}

TEST(UninstallCrc32, KnownVectors) {
  EXPECT_EQ(CrcOfText("123456789"), 0xCBF43926u);
  EXPECT_EQ(CrcOfText(""), 0u);
  EXPECT_EQ(CrcOfText("a"), 0xE8B7BE43u);
  EXPECT_EQ(CrcOfText("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(UninstallCrc32, PiecewiseUpdatesEqualOneShot) {
  const ByteVector data = uninstlog::FillerRecords(10000, 3);
  for (std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{9999}}) {
    Crc32 crc;
    crc.Update(data.data(), split);
    crc.Update(data.data() + split, data.size() - split);
    EXPECT_EQ(crc.Value(), Crc32::Of(data.data(), data.size())) << "split at " << split;
  }
}

TEST(DeleteFileRecord, TwentyBytePathGivesThirtyTwoBytes) {
  const std::string path = "C:\\Games\\bin\\new.dll";
  ASSERT_EQ(path.size(), 20u);
  ByteVector expected = {0x82, 0x00, 0, 0, 0, 0, 22, 0, 0, 0, 20};
  expected.insert(expected.end(), path.begin(), path.end());
  expected.push_back(0xFF);
  EXPECT_EQ(BuildDeleteFileRecord(path), expected);
}

// The record header (10 bytes), then the prefix, checked at the edges of
// each prefix width.
struct PrefixCase {
  std::size_t length;
  ByteVector prefix;
  std::uint32_t dataSize;
};

class DeleteFileRecordPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(DeleteFileRecordPrefix, WidthFollowsThePathLength) {
  const PrefixCase& c = GetParam();
  const std::string path(c.length, 'p');
  const ByteVector record = BuildDeleteFileRecord(path);
  ASSERT_EQ(record.size(), 10 + c.prefix.size() + c.length + 1);
  EXPECT_EQ(uninstlog::GetU32(record, 6), c.dataSize);
  EXPECT_EQ(
      ByteVector(record.begin() + 10, record.begin() + 10 + static_cast<std::ptrdiff_t>(c.prefix.size())),
      c.prefix);
  if (c.length > 0) {
    EXPECT_EQ(record[10 + c.prefix.size()], 'p');
  }
  EXPECT_EQ(record.back(), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, DeleteFileRecordPrefix,
                         ::testing::Values(PrefixCase{0, {0x00}, 2}, PrefixCase{252, {0xFC}, 254},
                                           PrefixCase{253, {0xFD, 0xFD, 0x00}, 257},
                                           PrefixCase{65535, {0xFD, 0xFF, 0xFF}, 65539},
                                           PrefixCase{65536, {0xFE, 0x00, 0x00, 0x01, 0x00}, 65542}));

TEST(AddedListLines, EveryLineEndKindSplits) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(NolkPatch::SplitTextLines(""), Lines{});
  EXPECT_EQ(NolkPatch::SplitTextLines("a"), Lines{"a"});
  EXPECT_EQ(NolkPatch::SplitTextLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(NolkPatch::SplitTextLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(NolkPatch::SplitTextLines("a\n\r\n\r"), (Lines{"a", "", ""}));
  EXPECT_EQ(NolkPatch::SplitTextLines("\r\r\n"), (Lines{"", ""}));
}

}  // namespace
