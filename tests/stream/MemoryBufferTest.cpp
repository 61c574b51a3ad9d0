#include <gtest/gtest.h>

#include <string>

#include "StreamTestSupport.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using StreamTest::Text;
using StreamTest::WatchedBuffer;

std::string ReadRest(NolkDataBuffer& buffer) {
  std::string bytes(static_cast<std::size_t>(buffer.GetSize() - buffer.GetPosition()), '\0');
  EXPECT_EQ(buffer.ReadData(bytes.data(), static_cast<std::uint32_t>(bytes.size())), NOLKRESULT_OK);
  return bytes;
}

TEST(MemoryDynamicTest, WritesOverwriteInPlaceAndAppendAtTheEnd) {
  NolkDataBufferMemoryDynamic buffer;
  ASSERT_EQ(buffer.WriteData("abcdef", 6), NOLKRESULT_OK);
  ASSERT_EQ(buffer.SetPosition(2), NOLKRESULT_OK);
  ASSERT_EQ(buffer.WriteData("XYZWV", 5), NOLKRESULT_OK);
  EXPECT_EQ(buffer.GetPosition(), 7u);
  EXPECT_EQ(Text(buffer.Bytes()), "abXYZWV");
}

TEST(MemoryDynamicTest, ShortReadAndSeekPastTheEndStopAtTheEnd) {
  NolkDataBufferMemoryDynamic buffer;
  buffer.WriteData("0123456789", 10);
  buffer.SetPosition(6);
  char target[10] = {};
  EXPECT_EQ(buffer.ReadData(target, 10), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(std::string(target), "6789");
  EXPECT_EQ(buffer.GetPosition(), 10u);
  EXPECT_EQ(buffer.SetPosition(11), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(buffer.SetPosition(0x100000003ull), NOLKRESULT_END_OF_DATA);  // must not wrap to 3
  EXPECT_EQ(buffer.GetPosition(), 10u);
}

TEST(MemoryDynamicTest, SetSizeZeroFillsClampsAndRefusesWhatPositionsCannotReach) {
  NolkDataBufferMemoryDynamic buffer;
  buffer.WriteData("abcdef", 6);
  ASSERT_EQ(buffer.SetSize(3), NOLKRESULT_OK);
  EXPECT_EQ(buffer.GetPosition(), 3u);
  ASSERT_EQ(buffer.SetSize(5), NOLKRESULT_OK);
  EXPECT_EQ(Text(buffer.Bytes()), std::string("abc\0\0", 5));
  EXPECT_EQ(buffer.SetSize(0x100000000ull), NOLKRESULT_NO_ROOM);
  EXPECT_EQ(buffer.GetSize(), 5u);
}

TEST(MemoryStaticTest, FixedBlockTakesWhatFitsAndCannotResize) {
  char block[6] = {};
  NolkDataBufferMemoryStatic buffer(block, sizeof block);
  ASSERT_EQ(buffer.WriteData("abcd", 4), NOLKRESULT_OK);
  EXPECT_EQ(buffer.WriteData("efgh", 4), NOLKRESULT_NO_ROOM);
  EXPECT_EQ(std::string(block, 6), "abcdef");
  EXPECT_EQ(buffer.GetPosition(), 6u);
  EXPECT_EQ(buffer.SetSize(8), NOLKRESULT_NOT_ALLOWED);
  EXPECT_EQ(buffer.SetPosition(7), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(buffer.GetPosition(), 6u);
  buffer.SetPosition(4);
  char target[4] = {};
  EXPECT_EQ(buffer.ReadData(target, 3), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(std::string(target), "ef");
}

TEST(MemoryBufferTest, NullBlocksAndNullDataAreRefused) {
  NolkDataBufferMemoryStatic empty(nullptr, 100);
  EXPECT_EQ(empty.GetSize(), 0u);
  NolkDataBufferMemoryDynamic dynamic;
  EXPECT_EQ(dynamic.WriteData(nullptr, 4), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(dynamic.ReadData(nullptr, 4), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(NolkDataBufferMemoryStatic::CopyOf(nullptr, 5), nullptr);
}

TEST(MemoryStaticTest, CreatorsOwnTheirBytes) {
  std::string original = "payload";
  auto copy = NolkDataBufferMemoryStatic::CopyOf(original.data(), 7);
  ASSERT_NE(copy, nullptr);
  original[0] = 'P';
  EXPECT_TRUE(copy->OwnsBlock());
  EXPECT_EQ(ReadRest(*copy), "payload");

  auto owner = NolkDataBufferMemoryStatic::TakeOwnership(
      std::unique_ptr<std::uint8_t[]>(new std::uint8_t[2]{'o', 'k'}), 2);
  EXPECT_EQ(ReadRest(*owner), "ok");

  WatchedBuffer source({'h', 'e', 'a', 'd', 'b', 'o', 'd', 'y'});
  source.SetPosition(4);
  auto rest = NolkDataBufferMemoryStatic::FromRestOf(source);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(source.GetPosition(), 8u);
  EXPECT_EQ(ReadRest(*rest), "body");
}

TEST(MemoryStaticTest, FromRestOfGivesNothingWhenTheRestCannotBeRead) {
  WatchedBuffer failing({1, 2, 3, 4});
  failing.FailReadsAfter(0, NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(NolkDataBufferMemoryStatic::FromRestOf(failing), nullptr);
  WatchedBuffer overstated({1, 2, 3, 4});
  overstated.ReportSize(10);
  EXPECT_EQ(NolkDataBufferMemoryStatic::FromRestOf(overstated), nullptr);
  WatchedBuffer huge;
  huge.ReportSize(0x100000000ull);
  EXPECT_EQ(NolkDataBufferMemoryStatic::FromRestOf(huge), nullptr);
  EXPECT_TRUE(huge.ReadLengths().empty());
}

}  // namespace
