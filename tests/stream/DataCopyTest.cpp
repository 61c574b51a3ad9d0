#include <gtest/gtest.h>

#include "StreamTestSupport.h"
#include "stream/DataCopy.h"

namespace {

using StreamTest::PatternBytes;
using StreamTest::WatchedBuffer;

struct CopyCase {
  std::uint64_t count;
  std::vector<std::uint32_t> passes;  // the read lengths the copy must use
};

class CopyDataPassesTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyDataPassesTest, CopiesCountBytesInTheExpectedPasses) {
  const CopyCase& copy = GetParam();
  const auto bytes = PatternBytes(static_cast<std::size_t>(copy.count) + 50);
  WatchedBuffer source(bytes);
  source.SetPosition(7);
  NolkDataBufferMemoryDynamic destination;
  destination.WriteData("pre", 3);
  ASSERT_EQ(CopyData(destination, source, copy.count), NOLKRESULT_OK);
  EXPECT_EQ(source.ReadLengths(), copy.passes);
  ASSERT_EQ(destination.GetSize(), 3 + copy.count);
  EXPECT_TRUE(std::equal(destination.Bytes().begin() + 3, destination.Bytes().end(), bytes.begin() + 7));
}

INSTANTIATE_TEST_SUITE_P(Counts, CopyDataPassesTest,
                         ::testing::Values(CopyCase{0, {}}, CopyCase{100, {100}},
                                           CopyCase{8192, {4096, 4096}}, CopyCase{8193, {8193}},
                                           CopyCase{300000, {131072, 131072, 37856}}));

TEST(CopyDataTest, FirstFailureEndsTheCopy) {
  WatchedBuffer source(PatternBytes(400000));
  source.FailReadsAfter(1, NOLKRESULT_CONNECTION_LOST);
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(CopyData(destination, source, 400000), NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(destination.GetSize(), 131072u);

  WatchedBuffer plenty(PatternBytes(300000));
  std::uint8_t block[1000];
  NolkDataBufferMemoryStatic small(block, sizeof block);
  EXPECT_EQ(CopyData(small, plenty, 300000), NOLKRESULT_NO_ROOM);
  EXPECT_EQ(plenty.ReadLengths().size(), 1u);
}

TEST(CopyRestTest, CopiesFromThePositionToTheEnd) {
  WatchedBuffer source({'s', 'k', 'i', 'p', 'k', 'e', 'e', 'p'});
  source.SetPosition(4);
  NolkDataBufferMemoryDynamic destination;
  ASSERT_EQ(CopyRest(destination, source), NOLKRESULT_OK);
  EXPECT_EQ(StreamTest::Text(destination.Bytes()), "keep");
}

TEST(ReadRestToStringTest, OneReadOfTheRestKeepingOnlyWhatArrived) {
  WatchedBuffer source({'a', 'b', 'c', 'd', 'e'});
  source.SetPosition(1);
  std::string text = "old";
  ASSERT_EQ(ReadRestToString(text, source), NOLKRESULT_OK);
  EXPECT_EQ(text, "bcde");
  EXPECT_EQ(source.ReadLengths(), std::vector<std::uint32_t>{4});

  WatchedBuffer overstated({'x', 'y'});
  overstated.ReportSize(6);
  EXPECT_EQ(ReadRestToString(text, overstated), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(text, "xy");
}

}  // namespace
