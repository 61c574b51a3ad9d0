#include <gtest/gtest.h>

#include <cstring>

#include "RepairTestSupport.h"
#include "repair/SegmentCrc.h"

namespace {

using NolkUtil::SegmentCrc;
using NolkUtil::SegmentCrcByFolding;
using NolkUtil::SegmentCrcByTable;
using RepairTest::BitwiseCrc;
using RepairTest::RandomBytes;

using CrcFunction = std::uint32_t (*)(const void*, std::size_t, std::uint32_t);

// Every implementation the processor can run, with a name for messages.
std::vector<std::pair<const char*, CrcFunction>> Implementations() {
  std::vector<std::pair<const char*, CrcFunction>> list = {{"dispatched", SegmentCrc},
                                                           {"table", SegmentCrcByTable}};
  if (NolkUtil::SegmentCrcFoldingAvailable()) list.emplace_back("folding", SegmentCrcByFolding);
  return list;
}

TEST(SegmentCrcTest, CheckValueOfTheNineDigits) {
  EXPECT_EQ(BitwiseCrc("123456789", 9), 0x89A1897Fu);  // the reference itself
  for (const auto& [name, crc] : Implementations()) EXPECT_EQ(crc("123456789", 9, 0), 0x89A1897Fu) << name;
}

TEST(SegmentCrcTest, EmptyInputLeavesTheStartValue) {
  for (const auto& [name, crc] : Implementations()) {
    EXPECT_EQ(crc(nullptr, 0, 0), 0u) << name;
    EXPECT_EQ(crc("", 0, 0xDEADBEEF), 0xDEADBEEFu) << name;
  }
}

TEST(SegmentCrcTest, ZeroBytesGiveZero) {
  const RepairTest::Bytes zeros(100000, 0);
  for (const auto& [name, crc] : Implementations()) EXPECT_EQ(crc(zeros.data(), zeros.size(), 0), 0u) << name;
}

// Lengths around every block size the fast paths use (16, 64), odd ones,
// and starts off any alignment, each with a random start value.
TEST(SegmentCrcTest, AgreesWithTheBitwiseDefinitionOnRandomData) {
  const RepairTest::Bytes data = RandomBytes(70000, 7);
  std::mt19937 generator(11);
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length <= 300; ++length) lengths.push_back(length);
  for (int i = 0; i < 60; ++i) lengths.push_back(generator() % 65000 | 1);
  for (const auto& [name, crc] : Implementations()) {
    for (const std::size_t length : lengths) {
      const std::size_t start = generator() % 37;
      const std::uint32_t initial = generator();
      ASSERT_EQ(crc(data.data() + start, length, initial), BitwiseCrc(data.data() + start, length, initial))
          << name << " length " << length << " start " << start;
    }
  }
}

TEST(SegmentCrcTest, AWholeSegmentMatchesTheDefinition) {
  const RepairTest::Bytes segment = RandomBytes(std::size_t{4} << 20, 3);
  const std::uint32_t expected = BitwiseCrc(segment.data(), segment.size());
  for (const auto& [name, crc] : Implementations())
    EXPECT_EQ(crc(segment.data(), segment.size(), 0), expected) << name;
}

TEST(SegmentCrcTest, ChecksumsContinueAcrossPieces) {
  const RepairTest::Bytes data = RandomBytes(10007, 5);
  const std::uint32_t whole = SegmentCrc(data.data(), data.size());
  for (const std::size_t split : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{4099}}) {
    const std::uint32_t first = SegmentCrc(data.data(), split);
    EXPECT_EQ(SegmentCrc(data.data() + split, data.size() - split, first), whole) << split;
  }
}

}  // namespace
