#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "RepairTestSupport.h"
#include "repair/SegmentFile.h"
#include "repair/SegmentKey.h"

namespace {

using NolkUtil::kSegmentSize;
using NolkUtil::MakeSegmentKey;
using RepairTest::Bytes;

class SegmentFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_install.Valid()); }

  // The bytes of one segment, or nullopt when ReadFileSegment fails.
  std::optional<Bytes> Segment(const std::wstring& file, std::int64_t index) {
    std::unique_ptr<std::uint8_t[]> block;
    std::uint32_t length = 12345;
    if (!NolkUtil::ReadFileSegment(MakeSegmentKey(m_install.Wide(file), index), block, length)) return {};
    return Bytes(block.get(), block.get() + length);
  }

  RepairTest::Installation m_install;
};

TEST_F(SegmentFileTest, SegmentsCoverFourMebibyteStretches) {
  const Bytes data = RepairTest::RandomBytes(kSegmentSize + 1, 1);
  m_install.Write("two.bin", data);
  const auto first = Segment(L"two.bin", 0);
  const auto second = Segment(L"two.bin", 1);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, Bytes(data.begin(), data.begin() + kSegmentSize));
  EXPECT_EQ(*second, Bytes(1, data.back()));
}

TEST_F(SegmentFileTest, SegmentAtTheEndIsEmptyAndBeyondItFails) {
  m_install.Write("one.bin", RepairTest::RandomBytes(kSegmentSize, 2));
  RepairTest::StdoutCapture output;
  const auto atEnd = Segment(L"one.bin", 1);
  const auto beyond = Segment(L"one.bin", 2);
  const auto negative = Segment(L"one.bin", -1);
  const std::string key = OS::ToUtf8(MakeSegmentKey(m_install.Wide(L"one.bin"), 2));
  EXPECT_TRUE(output.HasLine("ReadFileSegment> segment past end of file for: " + key));
  ASSERT_TRUE(atEnd);
  EXPECT_TRUE(atEnd->empty());
  EXPECT_FALSE(beyond);
  EXPECT_FALSE(negative);
}

TEST_F(SegmentFileTest, MissingAndUnreadableFilesFailWithTheirMessage) {
  m_install.Write("data.bin", RepairTest::RandomBytes(1000, 3));
  RepairTest::StdoutCapture output;
  const auto missing = Segment(L"missing.bin", 0);
  std::optional<Bytes> unreadable;
  std::uint32_t checksum = 99;
  {
    OS::ScopedFaults faults;
    faults.Add(RepairTest::FailCalls("ReadStream", "data.bin"));
    unreadable = Segment(L"data.bin", 0);
    checksum = NolkUtil::SegmentChecksum(MakeSegmentKey(m_install.Wide(L"data.bin"), 0));
  }
  EXPECT_TRUE(output.HasLine("ReadFileSegment> unabled to open file: " +
                             OS::ToUtf8(MakeSegmentKey(m_install.Wide(L"missing.bin"), 0))));
  EXPECT_EQ(output.Count("ReadFileSegment> unabled to read from file: "), 2u);
  EXPECT_FALSE(missing);
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(checksum, 0u);
}

TEST_F(SegmentFileTest, ChecksumIsTheCrcOfTheSegmentAndAnnouncesItself) {
  const Bytes data = RepairTest::RandomBytes(kSegmentSize + 5000, 4);
  m_install.Write("game.dat", data);
  const std::wstring second = MakeSegmentKey(m_install.Wide(L"game.dat"), 1);
  RepairTest::StdoutCapture output;
  const std::uint32_t checksum = NolkUtil::SegmentChecksum(second);
  EXPECT_TRUE(output.HasLine(RepairTest::Cat(" Checksum ", OS::ToUtf8(second), " ..")));
  EXPECT_EQ(checksum, RepairTest::BitwiseCrc(data.data() + kSegmentSize, 5000));
}

TEST_F(SegmentFileTest, AllZeroSegmentIsStoredAsOne) {
  m_install.Write("zeros.bin", Bytes(kSegmentSize, 0));
  EXPECT_EQ(NolkUtil::SegmentChecksum(MakeSegmentKey(m_install.Wide(L"zeros.bin"), 0)), 1u);
  // An empty segment (at the very end of a file) has CRC 0 as well.
  EXPECT_EQ(NolkUtil::SegmentChecksum(MakeSegmentKey(m_install.Wide(L"zeros.bin"), 1)), 1u);
}

// A sparse file of just over 1000 segments (about 3.9 GiB) with data behind
// the 4 GiB mark: offsets that were cut to 32 bits would read zeros or fail.
TEST_F(SegmentFileTest, SegmentsBeyondFourGibibytesAreRead) {
  const std::uint64_t length = 1026 * kSegmentSize + 777;
  m_install.Sparse("huge.bin", length);
  const std::string tail = "segment one thousand and twenty-six";
  {
    std::fstream file(m_install.Native("huge.bin"), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(1026 * kSegmentSize));
    file.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  }
  const auto last = Segment(L"huge.bin", 1026);
  ASSERT_TRUE(last);
  ASSERT_EQ(last->size(), 777u);
  EXPECT_EQ(std::string(last->begin(), last->begin() + tail.size()), tail);
  EXPECT_EQ(NolkUtil::SegmentChecksum(MakeSegmentKey(m_install.Wide(L"huge.bin"), 1026)),
            RepairTest::BitwiseCrc(last->data(), last->size()));
  EXPECT_EQ(NolkUtil::SegmentChecksum(MakeSegmentKey(m_install.Wide(L"huge.bin"), 1000)), 1u);
  EXPECT_FALSE(Segment(L"huge.bin", 1027));
}

}  // namespace
