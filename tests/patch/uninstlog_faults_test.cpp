// Failures while the new log is written or put in place: the update reports
// false, the old log stays intact and no temporary file is left behind.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "uninstlog_builder.h"

namespace {

using namespace uninstlog;

struct FaultCase {
  std::string name;
  std::string operation;
  std::string pathContains;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

const FaultCase kFaults[] = {
    {"TempCannotBeCreated", "OpenStream", "unins000_temp"},
    {"TempWriteFails", "WriteStream", "unins000_temp"},
    {"TempFlushFails", "FlushStream", "unins000_temp"},
    {"NewLogCannotReplaceTheOld", "ReplaceFile", "unins000_temp"},
    {"OldLogCannotBeRead", "ReadStream", "unins000.dat"},
};

class UninstallLogFault : public UninstallLogTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UninstallLogFault, OldLogStaysAndNothingIsLeftBehind) {
  const ByteVector log = BuildLog(FillerRecords(500), 4);
  WriteFileBytes(LogPath(), log);
  WriteAdded({"bin\\new.dll"});

  bool result = true;
  {
    OS::ScopedFaults faults;
    OS::FaultRule rule;
    rule.operation = GetParam().operation;
    rule.pathContains = GetParam().pathContains;
    rule.count = 1;
    faults.Add(rule);
    result = Update();
    EXPECT_GE(faults.Calls(GetParam().operation), 1);
  }
  EXPECT_FALSE(result);
  EXPECT_EQ(ReadFileBytes(LogPath()), log);
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  ASSERT_FALSE(m_messages.empty());
  EXPECT_EQ(m_messages.back().first, 2);
}

INSTANTIATE_TEST_SUITE_P(Injected, UninstallLogFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(UninstallLogTest, LogIsReplacedInOneStepWithoutABackup) {
  const ByteVector log = BuildLog(FillerRecords(500), 4);
  WriteFileBytes(LogPath(), log);
  WriteAdded({"bin\\new.dll"});
  OS::ScopedFaults faults;
  ASSERT_TRUE(Update());
  EXPECT_EQ(faults.Calls("ReplaceFile"), 1);
  EXPECT_EQ(faults.Calls("MoveFile"), 0);
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  const ReadLog read = ReadBack(ReadFileBytes(LogPath()));
  EXPECT_TRUE(read.valid);
  EXPECT_EQ(read.recordCount, 5);
}

TEST_F(UninstallLogTest, ReadOnlyLogIsLeftAlone) {
  // A log that may not be opened for writing cannot be updated; that is no
  // reason to fail the patch.
  const ByteVector log = BuildLog(FillerRecords(500), 4);
  WriteFileBytes(LogPath(), log);
  WriteAdded({"bin\\new.dll"});
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "OpenStream";
  rule.pathContains = "unins000.dat";
  faults.Add(rule);
  EXPECT_TRUE(Update());
  EXPECT_EQ(ReadFileBytes(LogPath()), log);
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
}

}  // namespace
