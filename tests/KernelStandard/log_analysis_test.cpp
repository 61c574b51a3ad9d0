// The analysis log: entries, repeat suppression, timestamps and time resync.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KernelStandard/AnalysisLog.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/LogClock.h"
#include "log_test_support.h"

namespace {

using logtest::MatchesShape;
using logtest::ReadFile;
using logtest::SplitLines;
using logtest::TempFolder;
using namespace std::chrono;

const std::string kTimestamp = "99.99.99  99:99:99.99| ";

// The lines after the two that every start writes, which are checked too.
std::vector<std::string> LinesAfterStart(const std::string& content) {
  std::vector<std::string> lines = SplitLines(content);
  EXPECT_GE(lines.size(), 2u) << content;
  if (lines.size() < 2) return {};
  EXPECT_TRUE(MatchesShape(lines[0], "Local time: 9999-99-99 99:99:99")) << lines[0];
  EXPECT_EQ(lines[1], "AnalysisLog: Build Version: 35673");
  return {lines.begin() + 2, lines.end()};
}

class AnalysisLogTest : public ::testing::Test {
 protected:
  void TearDown() override { Vek::StopAnalysisLog(); }
  std::string StopAndRead() {
    Vek::StopAnalysisLog();
    return ReadFile(m_folder.Path("analysis.log"));
  }
  TempFolder m_folder;
  std::wstring m_path = m_folder.WidePath("analysis.log");
};

TEST_F(AnalysisLogTest, StartWritesLocalTimeAndBuildVersion) {
  Vek::StartAnalysisLog(m_path, false);
  ASSERT_NE(Vek::AnalysisLog::Instance(), nullptr);
  const std::string content = StopAndRead();
  EXPECT_TRUE(LinesAfterStart(content).empty()) << content;
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  EXPECT_EQ(Vek::AnalysisLog::Instance(), nullptr);
}

TEST_F(AnalysisLogTest, RepeatedEntriesAreCountedAndSummarisedBeforeTheNextOne) {
  Vek::StartAnalysisLog(m_path, false);
  for (int i = 0; i < 5; ++i) Vek::AnalysisLog::Instance()->Write(L"Copy", L"bin/Launcher.exe");
  Vek::AnalysisLog::Instance()->Write(L"Copy", L"bin/Other.exe");
  const std::string content = StopAndRead();
  const std::vector<std::string> expected = {"Copy: bin/Launcher.exe", "[4 lines suppressed]",
                                             "Copy: bin/Other.exe"};
  EXPECT_EQ(LinesAfterStart(content), expected) << content;
}

TEST_F(AnalysisLogTest, FlushAndStopWriteThePendingSummary) {
  Vek::StartAnalysisLog(m_path, false);
  Vek::AnalysisLog& log = *Vek::AnalysisLog::Instance();
  log.WriteRaw("same\r\n", 6);
  log.WriteRaw("same\r\n", 6);
  log.Flush();
  EXPECT_NE(ReadFile(m_folder.Path("analysis.log")).find("same\r\n[1 lines suppressed]\r\n"),
            std::string::npos);
  log.WriteRaw("same\r\n", 6);
  log.WriteRaw("same\r\n", 6);
  const std::string content = StopAndRead();
  EXPECT_NE(content.find("same\r\n[1 lines suppressed]\r\n[2 lines suppressed]\r\n"), std::string::npos)
      << content;
}

TEST_F(AnalysisLogTest, FlushEachLineWritesRepeatsToo) {
  Vek::StartAnalysisLog(m_path, false);
  Vek::AnalysisLog& log = *Vek::AnalysisLog::Instance();
  log.SetFlushEachLine(true);
  log.Write(L"k", L"v");
  log.Write(L"k", L"v");
  EXPECT_NE(ReadFile(m_folder.Path("analysis.log")).find("k: v\r\nk: v\r\n"), std::string::npos);
}

TEST_F(AnalysisLogTest, DisabledLogWritesNothing) {
  Vek::StartAnalysisLog(m_path, false);
  Vek::AnalysisLog::Instance()->SetEnabled(false);
  Vek::AnalysisLog::Instance()->Write(L"hidden", L"entry");
  EXPECT_EQ(StopAndRead().find("hidden"), std::string::npos);
}

TEST_F(AnalysisLogTest, SystemLogAnalysisDestinationWritesTheLineWithCarriageReturn) {
  Vek::StartAnalysisLog(m_path, false);
  LogPrintTo(LOG_ANALYSIS, "system %d", 42);
  LogPrintTo(LOG_OBSERVERS, "not for the analysis log");
  const std::string content = StopAndRead();
  EXPECT_NE(content.find("system 42\r\n"), std::string::npos) << content;
  EXPECT_EQ(content.find("not for"), std::string::npos);
}

TEST_F(AnalysisLogTest, TimestampsPrefixEntriesAndSummaries) {
  Vek::StartAnalysisLog(m_path, true);
  Vek::AnalysisLog::Instance()->Write(L"a", L"1");
  Vek::AnalysisLog::Instance()->Write(L"a", L"1");
  Vek::AnalysisLog::Instance()->Write(L"b", L"2");
  const std::vector<std::string> lines = SplitLines(StopAndRead());
  ASSERT_EQ(lines.size(), 5u);
  const std::vector<std::string> bodies = {"a: 1", "[1 lines suppressed]", "b: 2"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_GT(lines[i].size(), kTimestamp.size()) << lines[i];
    EXPECT_TRUE(MatchesShape(lines[i].substr(0, kTimestamp.size()), kTimestamp)) << lines[i];
    if (i >= 2) {
      EXPECT_EQ(lines[i].substr(kTimestamp.size()), bodies[i - 2]);
    }
  }
}

TEST_F(AnalysisLogTest, UnopenableFileDropsEntriesWithoutHarm) {
  TempFolder folder;
  Vek::StartAnalysisLog(folder.WidePath("no/such/folder/analysis.log"), false);
  Vek::AnalysisLog::Instance()->Write(L"dropped", L"entry");
  Vek::AnalysisLog::Instance()->Flush();
  LogPrintTo(LOG_ANALYSIS, "also dropped");
  Vek::StopAnalysisLog();
  EXPECT_FALSE(std::filesystem::exists(folder.Path("no")));
}

TEST_F(AnalysisLogTest, TimeResyncIsLoggedOnlyForARealChange) {
  Vek::StartAnalysisLog(m_path, false);
  const year_month_day date{year{2024}, March, day{1}};
  Vek::ResyncAnalysisTime({date, 1000.0, 50.0}, 50.0);
  Vek::ResyncAnalysisTime({date, 1000.0, 50.5}, 51.0);  // same reference, within a second
  Vek::ResyncAnalysisTime({date, 2000.0, 51.0}, 51.0);
  const std::string content = StopAndRead();
  EXPECT_NE(content.find("Time resync: 1000:1000 -> 2000:2000\r\n"), std::string::npos) << content;
  EXPECT_EQ(content.find("1000:1001"), std::string::npos) << content;
}

TEST_F(AnalysisLogTest, TimeResyncLogsADriftOfMoreThanASecond) {
  Vek::StartAnalysisLog(m_path, false);
  const year_month_day date{year{2024}, March, day{1}};
  Vek::ResyncAnalysisTime({date, 1000.0, 50.0}, 50.0);
  Vek::ResyncAnalysisTime({date, 1000.0, 55.0}, 60.0);
  EXPECT_NE(StopAndRead().find("Time resync: 1000:1010 -> 1000:1005\r\n"), std::string::npos);
}

TEST(AnalysisTimestamp, DateAndTimeOfDayFromTheReferencePoint) {
  const Vek::AnalysisTimeReference reference{year_month_day{year{2024}, March, day{1}}, 3661.25, 100.0};
  EXPECT_EQ(Vek::FormatAnalysisTimestamp(reference, 100.5), "24.03.01  01:01:01.75| ");
  EXPECT_EQ(Vek::FormatAnalysisTimestamp(reference, 100.0 + 86400.0 - 3661.25 + 0.5),
            "24.03.02  00:00:00.50| ");
}

TEST(AnalysisTimestamp, NegativeTimeOfDayBorrowsFromThePreviousDay) {
  const Vek::AnalysisTimeReference reference{year_month_day{year{2024}, March, day{1}}, 10.0, 100.0};
  EXPECT_EQ(Vek::FormatAnalysisTimestamp(reference, 80.0), "24.02.29  23:59:50.00| ");
  const Vek::AnalysisTimeReference newYear{year_month_day{year{2000}, January, day{1}}, 0.0, 0.0};
  EXPECT_EQ(Vek::FormatAnalysisTimestamp(newYear, -0.005), "99.12.31  23:59:59.99| ");
}

TEST(AnalysisTimestamp, CurrentReferenceIsAValidLocalTime) {
  const Vek::AnalysisTimeReference reference = Vek::CurrentTimeReference();
  EXPECT_TRUE(reference.date.ok());
  EXPECT_GE(reference.secondOfDay, 0.0);
  EXPECT_LT(reference.secondOfDay, 86401.0);
  EXPECT_LE(reference.counter, Vek::LogCounterSeconds());
}

}  // namespace
