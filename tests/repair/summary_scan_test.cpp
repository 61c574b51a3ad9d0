#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "RepairTestSupport.h"
#include "repair/FileTreeSummary.h"
#include "repair/SegmentKey.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using NolkPatch::FileTreeSummary;
using NolkUtil::kSegmentSize;

std::vector<std::wstring> Keys(const FileTreeSummary& summary) {
  std::vector<std::wstring> keys;
  for (const auto& [key, entry] : summary.Entries()) keys.push_back(key);
  return keys;
}

RepairTest::Bytes Stream(const FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic buffer;
  EXPECT_EQ(summary.Save(buffer), NOLKRESULT_OK);
  return buffer.Bytes();
}

class SummaryScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_install.Valid());
    m_install.Write("bin/Launcher.exe", "launcher");
    m_install.Write("bin/unins000.exe", "uninstaller");
    m_install.Write("data/maps/north/terrain.map", RepairTest::RandomBytes(kSegmentSize + 10, 1));
    m_install.Write("data/readme.txt", "hello");
    m_install.Write("logs/session.log", "log");
    m_install.Write("unins000.exe", "top-level uninstaller");
    m_install.Write("empty.cfg", "");
    std::filesystem::create_directories(m_install.Native("data/empty-folder"));
  }
  NolkResult Scan(const std::set<std::wstring>& exclusions = {}) {
    return m_summary.Scan(m_install.Wide(), exclusions);
  }

  RepairTest::Installation m_install;
  FileTreeSummary m_summary;
};

TEST_F(SummaryScanTest, NestedFoldersGiveRelativeNamesWithBackslashes) {
  EXPECT_EQ(Scan(), NOLKRESULT_OK);
  const std::vector<std::wstring> expected = {
      L"bin\\Launcher.exe#000",
      L"bin\\unins000.exe#000",
      L"data\\maps\\north\\terrain.map#000",
      L"data\\maps\\north\\terrain.map#001",
      L"data\\readme.txt#000",
      L"logs\\session.log#000",
      L"unins000.exe#000",
  };
  EXPECT_EQ(Keys(m_summary), expected);
  for (const auto& [key, entry] : m_summary.Entries()) EXPECT_TRUE(entry.seen) << OS::ToUtf8(key);
}

TEST_F(SummaryScanTest, ExclusionsMatchRelativeNamesOfFilesOnly) {
  // "*.log" crosses the separator; "unins000.exe" is only the top-level file;
  // "data" names a folder, and folders are never matched.
  EXPECT_EQ(Scan({L"*.log", L"unins000.exe", L"data"}), NOLKRESULT_OK);
  const std::vector<std::wstring> expected = {
      L"bin\\Launcher.exe#000",
      L"bin\\unins000.exe#000",
      L"data\\maps\\north\\terrain.map#000",
      L"data\\maps\\north\\terrain.map#001",
      L"data\\readme.txt#000",
  };
  EXPECT_EQ(Keys(m_summary), expected);
  EXPECT_TRUE(FileTreeSummary::IsExcluded(L"a\\b.log", {L"*.log"}));
  EXPECT_FALSE(FileTreeSummary::IsExcluded(L"bin\\unins000.exe", {L"unins000.exe"}));
}

TEST_F(SummaryScanTest, RescanOfAnUnchangedTreeReadsNothingAndGivesTheSameStream) {
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  const RepairTest::Bytes first = Stream(m_summary);
  OS::ScopedFaults faults;
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  EXPECT_EQ(faults.Calls("OpenStream"), 0);
  EXPECT_EQ(Stream(m_summary), first);
}

TEST_F(SummaryScanTest, VanishedShrunkAndEmptiedFilesLoseTheirEntries) {
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  std::filesystem::remove(m_install.Native("bin/Launcher.exe"));
  m_install.Write("data/maps/north/terrain.map", "short now");
  m_install.Write("data/readme.txt", "");
  m_install.Write("data/new.txt", "new");
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  const std::vector<std::wstring> expected = {
      L"bin\\unins000.exe#000", L"data\\maps\\north\\terrain.map#000",
      L"data\\new.txt#000",     L"logs\\session.log#000",
      L"unins000.exe#000",
  };
  EXPECT_EQ(Keys(m_summary), expected);
}

TEST_F(SummaryScanTest, TouchedFileIsRecomputedWhole) {
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  m_install.OverwriteKeepingTime("data/maps/north/terrain.map", kSegmentSize, "changed");
  m_install.ShiftTime("data/maps/north/terrain.map", 3);
  OS::ScopedFaults faults;
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  EXPECT_EQ(faults.Calls("OpenStream"), 2);  // both segments of that file, nothing else
  const RepairTest::Bytes bytes = m_install.Read("data/maps/north/terrain.map");
  NolkPatch::SegmentEntry entry;
  ASSERT_TRUE(m_summary.Find(L"data\\maps\\north\\terrain.map#001", entry));
  EXPECT_EQ(entry.checksum, RepairTest::BitwiseCrc(bytes.data() + kSegmentSize, 10));
}

TEST_F(SummaryScanTest, CacheFromAFileIsReusedByModificationTime) {
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  const std::wstring cache = m_install.Wide(L"repair.cks");
  ASSERT_EQ(m_summary.SaveToFile(cache), NOLKRESULT_OK);

  FileTreeSummary next;
  ASSERT_EQ(next.LoadFromFile(cache), NOLKRESULT_OK);
  for (const auto& [key, entry] : next.Entries()) EXPECT_FALSE(entry.seen);
  m_install.ShiftTime("data/readme.txt", 7);
  OS::ScopedFaults faults;
  ASSERT_EQ(next.Scan(m_install.Wide(), {L"repair.cks"}), NOLKRESULT_OK);
  EXPECT_EQ(faults.Calls("OpenStream"), 1);  // only the touched file
  EXPECT_EQ(Keys(next), Keys(m_summary));
}

TEST_F(SummaryScanTest, UnreadableFilesAndFoldersDoNotStopTheWalk) {
  OS::ScopedFaults faults;
  faults.Add(RepairTest::FailCalls("Stat", "Launcher"));
  faults.Add(RepairTest::FailCalls("ListDirectory", "maps"));
  EXPECT_EQ(Scan(), NOLKRESULT_OK);
  const std::vector<std::wstring> expected = {
      L"bin\\unins000.exe#000",
      L"data\\readme.txt#000",
      L"logs\\session.log#000",
      L"unins000.exe#000",
  };
  EXPECT_EQ(Keys(m_summary), expected);
}

TEST_F(SummaryScanTest, RootThatCannotBeListedEmptiesTheSummaryAndSaysSo) {
  ASSERT_EQ(Scan(), NOLKRESULT_OK);
  EXPECT_EQ(m_summary.Scan(m_install.Wide(L"no-such-folder"), {}), NOLKRESULT_CANNOT_LIST);
  EXPECT_EQ(m_summary.Count(), 0u);
}

}  // namespace
