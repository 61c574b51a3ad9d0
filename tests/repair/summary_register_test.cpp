#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "RepairTestSupport.h"
#include "repair/FileTreeSummary.h"
#include "repair/SegmentKey.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using NolkPatch::FileTreeSummary;
using NolkPatch::SegmentEntry;
using NolkUtil::kSegmentSize;
using RepairTest::Bytes;

class SummaryRegisterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_install.Valid()); }

  bool Register(const std::wstring& relative) {
    return m_summary.RegisterFile(m_install.Wide(relative), relative);
  }
  SegmentEntry Entry(const std::wstring& key) const {
    SegmentEntry entry;
    EXPECT_TRUE(m_summary.Find(key, entry)) << "no entry " << OS::ToUtf8(key);
    return entry;
  }
  std::wstring Local(const std::wstring& relative, int index) const {
    return NolkUtil::MakeSegmentKey(m_install.Wide(relative), index);
  }

  RepairTest::Installation m_install;
  FileTreeSummary m_summary;
};

TEST_F(SummaryRegisterTest, FileOfExactlyOneSegmentAndOneByteMore) {
  const Bytes data = RepairTest::RandomBytes(kSegmentSize + 1, 1);
  m_install.Write("one.bin", Bytes(data.begin(), data.begin() + kSegmentSize));
  m_install.Write("two.bin", data);
  ASSERT_TRUE(Register(L"one.bin"));
  ASSERT_TRUE(Register(L"two.bin"));
  EXPECT_EQ(m_summary.Count(), 3u);
  const SegmentEntry last = Entry(L"two.bin#001");
  EXPECT_EQ(last.name, L"two.bin#001");
  EXPECT_EQ(last.checksum, RepairTest::BitwiseCrc(&data.back(), 1));
  EXPECT_TRUE(last.seen);
  EXPECT_EQ(last.modifiedTime, m_install.ModifiedSeconds("two.bin"));
}

TEST_F(SummaryRegisterTest, EmptyFileHasNoEntriesAndMissingFileFails) {
  m_install.Write("empty.txt", "");
  EXPECT_TRUE(Register(L"empty.txt"));
  EXPECT_EQ(m_summary.Count(), 0u);

  RepairTest::StdoutCapture output;
  const bool registered = Register(L"gone.txt");
  EXPECT_TRUE(output.HasLine("FileTreeSummary::RegisterFile> unable to get filesize for " +
                             OS::ToUtf8(m_install.Wide(L"gone.txt"))));
  EXPECT_FALSE(registered);
  EXPECT_FALSE(m_summary.RegisterSegment(Local(L"gone.txt", 0), L"gone.txt#000", 0));
  EXPECT_EQ(m_summary.Count(), 0u);
}

TEST_F(SummaryRegisterTest, UnchangedTimeKeepsTheCachedChecksumWithoutReading) {
  m_install.Write("cfg.ini", "original");
  ASSERT_TRUE(Register(L"cfg.ini"));
  const std::uint32_t original = Entry(L"cfg.ini#000").checksum;

  // Same length and time, other bytes: the cache cannot tell, and must not read.
  m_install.OverwriteKeepingTime("cfg.ini", 0, "modified");
  OS::ScopedFaults faults;
  ASSERT_TRUE(Register(L"cfg.ini"));
  EXPECT_EQ(faults.Calls("OpenStream"), 0);
  EXPECT_EQ(Entry(L"cfg.ini#000").checksum, original);

  // A new time recomputes.
  m_install.ShiftTime("cfg.ini", 5);
  ASSERT_TRUE(Register(L"cfg.ini"));
  EXPECT_EQ(Entry(L"cfg.ini#000").checksum, RepairTest::BitwiseCrc("modified", 8));
}

TEST_F(SummaryRegisterTest, KnownChecksumIsStoredAndRestampsTheOtherSegments) {
  m_install.Write("big.dat", RepairTest::RandomBytes(3 * kSegmentSize, 2));
  ASSERT_TRUE(Register(L"big.dat"));
  const SegmentEntry before = Entry(L"big.dat#002");

  // The repair client rewrote segment 1: the file has a new time.
  m_install.ShiftTime("big.dat", 60);
  ASSERT_TRUE(m_summary.RegisterSegment(Local(L"big.dat", 1), L"big.dat#001", 0xABCD1234));
  const SegmentEntry rewritten = Entry(L"big.dat#001");
  EXPECT_EQ(rewritten.checksum, 0xABCD1234u);
  EXPECT_EQ(rewritten.modifiedTime, before.modifiedTime + 60);
  EXPECT_EQ(Entry(L"big.dat#000").modifiedTime, before.modifiedTime + 60);
  EXPECT_EQ(Entry(L"big.dat#002").modifiedTime, before.modifiedTime + 60);
  EXPECT_EQ(Entry(L"big.dat#002").checksum, before.checksum);

  // So the next registration reads nothing.
  OS::ScopedFaults faults;
  ASSERT_TRUE(Register(L"big.dat"));
  EXPECT_EQ(faults.Calls("OpenStream"), 0);
  EXPECT_EQ(Entry(L"big.dat#001").checksum, 0xABCD1234u);
}

TEST_F(SummaryRegisterTest, UnreadableSegmentGetsChecksumZero) {
  m_install.Write("locked.bin", "bytes");
  OS::ScopedFaults faults;
  faults.Add(RepairTest::FailCalls("OpenStream", "locked.bin"));
  ASSERT_TRUE(Register(L"locked.bin"));
  EXPECT_EQ(Entry(L"locked.bin#000").checksum, 0u);
}

TEST_F(SummaryRegisterTest, RemovingSegments) {
  m_install.Write("a.bin", RepairTest::RandomBytes(4 * kSegmentSize, 3));
  m_install.Write("a.bin2", "other file with a longer name");
  ASSERT_TRUE(Register(L"a.bin"));
  ASSERT_TRUE(Register(L"a.bin2"));
  m_summary.RemoveSegment(L"a.bin#002");
  m_summary.RemoveSegment(L"a.bin#009");  // absent: nothing happens
  EXPECT_EQ(m_summary.Count(), 4u);

  // Stops at the gap left at #002, so #003 stays.
  m_summary.RemoveSegmentsAfter(L"a.bin#000");
  SegmentEntry entry;
  EXPECT_FALSE(m_summary.Find(L"a.bin#001", entry));
  EXPECT_TRUE(m_summary.Find(L"a.bin#003", entry));
  EXPECT_TRUE(m_summary.Find(L"a.bin#000", entry));
  EXPECT_TRUE(m_summary.Find(L"a.bin2#000", entry));
  m_summary.RemoveSegmentsAfter(L"a.bin#002");
  EXPECT_FALSE(m_summary.Find(L"a.bin#003", entry));
}

// 1000 segments and one byte more, sparse. The first 1000 come from a cache
// with the file's time, so only the last one is read: the index after #999
// is #1000, and its one zero byte is stored with checksum 1.
TEST_F(SummaryRegisterTest, FileWithMoreThanAThousandSegments) {
  m_install.Sparse("sparse.pak", 1000 * kSegmentSize + 1);
  std::string cache;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, cache);
  NolkUtil::AppendLe32(1000, cache);
  for (int index = 0; index < 1000; ++index) {
    NolkUtil::AppendCountedName(NolkUtil::MakeSegmentKey(L"sparse.pak", index), cache);
    NolkUtil::AppendLe32(77, cache);
    NolkUtil::AppendLe64(m_install.ModifiedSeconds("sparse.pak"), cache);
  }
  NolkDataBufferMemoryStatic source(cache.data(), static_cast<std::uint32_t>(cache.size()));
  ASSERT_EQ(m_summary.Load(source), NOLKRESULT_OK);

  OS::ScopedFaults faults;
  ASSERT_TRUE(Register(L"sparse.pak"));
  EXPECT_EQ(faults.Calls("OpenStream"), 1);
  EXPECT_EQ(m_summary.Count(), 1001u);
  EXPECT_EQ(Entry(L"sparse.pak#999").checksum, 77u);
  EXPECT_EQ(Entry(L"sparse.pak#1000").name, L"sparse.pak#1000");
  EXPECT_EQ(Entry(L"sparse.pak#1000").checksum, 1u);
  SegmentEntry entry;
  EXPECT_FALSE(m_summary.Find(L"sparse.pak#1001", entry));
}

}  // namespace
