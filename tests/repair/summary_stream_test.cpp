#include <gtest/gtest.h>

#include <chrono>

#include "RepairTestSupport.h"
#include "repair/FileTreeSummary.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using NolkPatch::FileTreeSummary;
using NolkPatch::SegmentEntry;
using RepairTest::Bytes;

// A summary filled through the stream itself, from (name, checksum, time).
struct Row {
  std::wstring name;
  std::uint32_t checksum;
  std::uint64_t time;
};

Bytes StreamOf(const std::vector<Row>& rows, std::uint32_t magic = NolkUtil::kSummaryMagic) {
  std::string bytes;
  NolkUtil::AppendLe32(magic, bytes);
  NolkUtil::AppendLe32(static_cast<std::uint32_t>(rows.size()), bytes);
  for (const Row& row : rows) {
    NolkUtil::AppendCountedName(row.name, bytes);
    NolkUtil::AppendLe32(row.checksum, bytes);
    NolkUtil::AppendLe64(row.time, bytes);
  }
  return Bytes(bytes.begin(), bytes.end());
}

NolkResult LoadBytes(FileTreeSummary& summary, const Bytes& bytes) {
  NolkDataBufferMemoryStatic source(const_cast<std::uint8_t*>(bytes.data()),
                                    static_cast<std::uint32_t>(bytes.size()));
  return summary.Load(source);
}

Bytes SaveBytes(const FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(summary.Save(destination), NOLKRESULT_OK);
  return destination.Bytes();
}

TEST(SummaryStreamTest, LayoutIsMagicCountAndLittleEndianEntries) {
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf({{L"a#000", 0x11223344u, 0x0102030405060708ull}})), NOLKRESULT_OK);
  const Bytes expected = {'0',  's',  't',  'f',  1,   0, 0,   0,          // magic, count
                          5,    0,    0,    0,                             // name length
                          'a',  0,    '#',  0,    '0', 0, '0', 0, '0', 0,  // UTF-16LE
                          0x44, 0x33, 0x22, 0x11,                          // checksum
                          8,    7,    6,    5,    4,   3, 2,   1};         // time, low half first
  EXPECT_EQ(SaveBytes(summary), expected);
}

TEST(SummaryStreamTest, EmptySummaryIsEightBytes) {
  FileTreeSummary summary;
  EXPECT_EQ(SaveBytes(summary), (Bytes{'0', 's', 't', 'f', 0, 0, 0, 0}));
}

TEST(SummaryStreamTest, RoundTripKeepsEntriesInUtf16Order) {
  // U+FF21 sorts before U+1F600 by code point but after it by UTF-16 units
  // (0xFF21 > 0xD83D), which is the order the stream is in.
  const std::vector<Row> rows = {
      {L"a\\b#000", 7, 1700000000},  {L"a\\b#001", 1, 1700000000}, {L"b#000", 0, 0},
      {L"\U0001F600.txt#000", 3, 5}, {L"\uFF21.txt#000", 4, 6},    {L"\u00E9t\u00E9#000", 9, 1ull << 40},
  };
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf(rows)), NOLKRESULT_OK);
  std::vector<std::wstring> order;
  for (const auto& [key, entry] : summary.Entries()) {
    order.push_back(key);
    EXPECT_EQ(entry.name, key);
    EXPECT_FALSE(entry.seen);
  }
  const std::vector<std::wstring> expected = {L"a\\b#000",          L"a\\b#001",           L"b#000",
                                              L"\u00E9t\u00E9#000", L"\U0001F600.txt#000", L"\uFF21.txt#000"};
  EXPECT_EQ(order, expected);
  SegmentEntry entry;
  ASSERT_TRUE(summary.Find(L"\u00E9t\u00E9#000", entry));
  EXPECT_EQ(entry.modifiedTime, 1ull << 40);
  EXPECT_EQ(entry.checksum, 9u);

  // Saved in that order, the stream loads to the same summary and saves the same.
  const Bytes saved = SaveBytes(summary);
  FileTreeSummary again;
  ASSERT_EQ(LoadBytes(again, saved), NOLKRESULT_OK);
  EXPECT_EQ(SaveBytes(again), saved);
}

TEST(SummaryStreamTest, LoneSurrogatesSurviveARoundTrip) {
  std::string bytes;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, bytes);
  NolkUtil::AppendLe32(1, bytes);
  NolkUtil::AppendLe32(3, bytes);
  for (const std::uint16_t unit : {0xDC00, 0x0041, 0xD800}) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  NolkUtil::AppendLe32(1, bytes);
  NolkUtil::AppendLe64(2, bytes);
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, Bytes(bytes.begin(), bytes.end())), NOLKRESULT_OK);
  EXPECT_EQ(SaveBytes(summary), Bytes(bytes.begin(), bytes.end()));
}

TEST(SummaryStreamTest, ForeignMagicLoadsAsWrongFormatWithAnEmptySummary) {
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf({{L"x#000", 1, 1}})), NOLKRESULT_OK);
  EXPECT_EQ(LoadBytes(summary, StreamOf({{L"y#000", 1, 1}}, 0x66747331)), NOLKRESULT_WRONG_FORMAT);
  EXPECT_EQ(summary.Count(), 0u);
  EXPECT_EQ(LoadBytes(summary, Bytes{'0', 's', 't'}), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(LoadBytes(summary, Bytes{}), NOLKRESULT_END_OF_DATA);
}

TEST(SummaryStreamTest, ShortStreamKeepsTheCompleteEntriesBeforeIt) {
  const Bytes whole = StreamOf({{L"a#000", 1, 1}, {L"b#000", 2, 2}, {L"c#000", 3, 3}});
  for (std::size_t cut = 8; cut < whole.size(); ++cut) {
    FileTreeSummary summary;
    EXPECT_EQ(LoadBytes(summary, Bytes(whole.begin(), whole.begin() + cut)), NOLKRESULT_END_OF_DATA) << cut;
    // Each entry of a one-letter name takes 26 bytes.
    EXPECT_EQ(summary.Count(), (cut - 8) / 26) << cut;
  }
}

// Counts that promise far more than the stream holds: nothing is allocated
// for them, and the reader stops at the first failing read.
TEST(SummaryStreamTest, HostileCountsFailFastWithoutAllocating) {
  std::string bytes;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, bytes);
  NolkUtil::AppendLe32(0xFFFFFFFFu, bytes);  // four billion entries
  NolkUtil::AppendLe32(0xFFFFFFF0u, bytes);  // a name of 8 GiB
  FileTreeSummary summary;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadBytes(summary, Bytes(bytes.begin(), bytes.end())), NOLKRESULT_WRONG_FORMAT);

  std::string atTheLimit;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, atTheLimit);
  NolkUtil::AppendLe32(0xFFFFFFFFu, atTheLimit);
  NolkUtil::AppendLe32(NolkUtil::kMaxNameUnits, atTheLimit);
  EXPECT_EQ(LoadBytes(summary, Bytes(atTheLimit.begin(), atTheLimit.end())), NOLKRESULT_END_OF_DATA);

  // A huge count over a few good entries ends at the end of the data.
  Bytes few = StreamOf({{L"a#000", 1, 1}, {L"b#000", 2, 2}});
  few[4] = few[5] = few[6] = few[7] = 0xFF;
  EXPECT_EQ(LoadBytes(summary, few), NOLKRESULT_END_OF_DATA);
  EXPECT_EQ(summary.Count(), 2u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SummaryStreamTest, LaterDuplicateNameWins) {
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf({{L"a#000", 1, 1}, {L"a#000", 2, 2}})), NOLKRESULT_OK);
  SegmentEntry entry;
  ASSERT_TRUE(summary.Find(L"a#000", entry));
  EXPECT_EQ(entry.checksum, 2u);
  EXPECT_EQ(summary.Count(), 1u);
}

// A destination whose writes fail after a number of good ones, recording
// every attempt.
class FailingDestination : public NolkDataBufferMemoryDynamic {
 public:
  explicit FailingDestination(int goodWrites) : m_goodWrites(goodWrites) {}
  NolkResult WriteData(const void* data, std::uint32_t length) override {
    ++m_attempts;
    if (m_attempts > m_goodWrites)
      return m_attempts == m_goodWrites + 1 ? NOLKRESULT_FILE_ERROR : NOLKRESULT_NO_ROOM;
    return NolkDataBufferMemoryDynamic::WriteData(data, length);
  }
  int Attempts() const { return m_attempts; }

 private:
  int m_goodWrites;
  int m_attempts = 0;
};

TEST(SummaryStreamTest, SaveAttemptsEveryWriteAndReturnsTheFirstFailure) {
  std::vector<Row> rows;
  for (int i = 0; i < 20000; ++i) rows.push_back({L"folder\\file" + std::to_wstring(i) + L".dat#000", 1, 2});
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf(rows)), NOLKRESULT_OK);
  const std::size_t total = SaveBytes(summary).size();

  FailingDestination destination(1);
  EXPECT_EQ(summary.Save(destination), NOLKRESULT_FILE_ERROR);
  // The stream goes out in blocks: more than one failing block was still tried.
  EXPECT_GT(destination.Attempts(), 3);
  EXPECT_LT(destination.GetSize(), total);
}

TEST(SummaryStreamTest, CacheFileRoundTripAndUnopenableFiles) {
  RepairTest::Installation folder;
  ASSERT_TRUE(folder.Valid());
  FileTreeSummary summary;
  ASSERT_EQ(LoadBytes(summary, StreamOf({{L"a#000", 1, 1}, {L"b\\c#001", 2, 2}})), NOLKRESULT_OK);
  const std::wstring cache = folder.Wide(L"repair.cks");
  ASSERT_EQ(summary.SaveToFile(cache), NOLKRESULT_OK);
  EXPECT_EQ(folder.Read("repair.cks"), SaveBytes(summary));

  FileTreeSummary loaded;
  ASSERT_EQ(loaded.LoadFromFile(cache), NOLKRESULT_OK);
  EXPECT_EQ(SaveBytes(loaded), SaveBytes(summary));
  // A missing cache leaves the summary as it was.
  EXPECT_EQ(loaded.LoadFromFile(folder.Wide(L"missing.cks")), NOLKRESULT_NOT_OPEN);
  EXPECT_EQ(loaded.Count(), 2u);
  EXPECT_EQ(summary.SaveToFile(folder.Wide(L"no-folder/repair.cks")), NOLKRESULT_NOT_OPEN);
}

TEST(SummaryStreamTest, DamagedCacheFilesLoadWhatTheyHold) {
  RepairTest::Installation folder;
  ASSERT_TRUE(folder.Valid());
  const Bytes whole = StreamOf({{L"a#000", 1, 1}, {L"b#000", 2, 2}});
  const std::wstring cache = folder.Wide(L"repair.cks");
  FileTreeSummary summary;

  folder.Write("repair.cks", Bytes(whole.begin(), whole.end() - 3));  // cut short
  EXPECT_EQ(summary.LoadFromFile(cache), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(summary.Count(), 1u);

  folder.Write("repair.cks", std::string("PK\x03\x04 not a summary at all"));
  EXPECT_EQ(summary.LoadFromFile(cache), NOLKRESULT_WRONG_FORMAT);
  EXPECT_EQ(summary.Count(), 0u);

  folder.Write("repair.cks", "");
  EXPECT_EQ(summary.LoadFromFile(cache), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(summary.Count(), 0u);
}

TEST(SummaryStreamTest, CountedNamesForTheWire) {
  std::string bytes;
  NolkUtil::AppendCountedName(L"bin\\x.dll#003", bytes);
  Bytes raw(bytes.begin(), bytes.end());
  NolkDataBufferMemoryStatic source(raw.data(), static_cast<std::uint32_t>(raw.size()));
  std::wstring name;
  ASSERT_EQ(NolkUtil::ReadCountedName(source, name), NOLKRESULT_OK);
  EXPECT_EQ(name, L"bin\\x.dll#003");

  raw = {0x00, 0x00, 0x01, 0x00};  // 65536 units: one over the limit
  NolkDataBufferMemoryStatic tooLong(raw.data(), static_cast<std::uint32_t>(raw.size()));
  EXPECT_EQ(NolkUtil::ReadCountedName(tooLong, name), NOLKRESULT_WRONG_FORMAT);
  raw = {0x02, 0x00, 0x00, 0x00, 'a', 0x00};
  NolkDataBufferMemoryStatic shortName(raw.data(), static_cast<std::uint32_t>(raw.size()));
  EXPECT_EQ(NolkUtil::ReadCountedName(shortName, name), NOLKRESULT_END_OF_DATA);
}

}  // namespace
