// Logs whose layout cannot take the update are left byte for byte as they
// are, with a warning, and the patch goes on.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "patch/UninstallLogFormat.h"
#include "uninstlog_builder.h"

namespace {

using namespace uninstlog;

constexpr std::size_t kFirstBlock = 448;

struct LayoutCase {
  std::string name;
  std::function<ByteVector()> make;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

ByteVector TwoBlockLog() {
  return BuildLog(FillerRecords(4096 + 200), 3);
}

const LayoutCase kCases[] = {
    {"ShortHeader", [] { return ByteVector(300, 0x11); }},
    {"HeaderOnly",
     [] {
       ByteVector log = BuildLog(FillerRecords(10), 1);
       log.resize(448);
       ResealHeader(log);
       return log;
     }},
    {"HeaderChecksumWrong",
     [] {
       ByteVector log = TwoBlockLog();
       log[10] ^= 0x01;
       return log;
     }},
    {"DataEndsOnBlockBoundary", [] { return BuildLog(FillerRecords(4096 - 28), 3); }},
    {"LastBlockShorterThanClosingRecord",
     [] {
       ByteVector log = BuildLog(FillerRecords(4096 - 28), 3);
       const ByteVector tail(20, 0x33);
       log.insert(log.end(), {20, 0, 0, 0, 0xEB, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
       log.insert(log.end(), tail.begin(), tail.end());
       ResealBlock(log, kFirstBlock + 4108);
       return log;
     }},
    {"EmptyLastBlock",
     [] {
       ByteVector log = BuildLog(FillerRecords(4096 - 28), 3);
       log.insert(log.end(), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
       return log;
     }},
    {"SizeAndComplementDisagree",
     [] {
       ByteVector log = TwoBlockLog();
       PutU32(log, kFirstBlock + 4, 0x12345678);
       return log;
     }},
    {"BlockLargerThan4096",
     [] {
       ByteVector log = TwoBlockLog();
       PutU32(log, kFirstBlock, 4097);
       PutU32(log, kFirstBlock + 4, ~4097u);
       ResealBlock(log, kFirstBlock);
       return log;
     }},
    {"HugeBlockSize",
     [] {
       ByteVector log = TwoBlockLog();
       PutU32(log, kFirstBlock, 0xFFFFFFF0u);
       PutU32(log, kFirstBlock + 4, ~0xFFFFFFF0u);
       return log;
     }},
    {"FullBlockChecksumWrong",
     [] {
       ByteVector log = TwoBlockLog();
       log[kFirstBlock + 12 + 100] ^= 0x80;
       return log;
     }},
    {"LastBlockChecksumWrong",
     [] {
       ByteVector log = TwoBlockLog();
       log[log.size() - 1] ^= 0x80;
       return log;
     }},
    {"LastBlockCutOff",
     [] {
       ByteVector log = TwoBlockLog();
       log.erase(log.end() - 5, log.end());
       return log;
     }},
    {"BlockHeaderCutOff",
     [] {
       ByteVector log = TwoBlockLog();
       log.erase(log.begin() + kFirstBlock + 4108 + 7, log.end());
       return log;
     }},
    {"BytesAfterTheLastBlock",
     [] {
       ByteVector log = TwoBlockLog();
       log.insert(log.end(), {1, 2, 3});
       return log;
     }},
};

class UninstallLogLayout : public UninstallLogTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(UninstallLogLayout, LogIsLeftUnchangedWithAWarning) {
  const ByteVector log = GetParam().make();
  WriteFileBytes(LogPath(), log);
  WriteAdded({"bin\\new.dll", "bin\\other.dll"});

  EXPECT_TRUE(Update());
  EXPECT_EQ(ReadFileBytes(LogPath()), log);
  EXPECT_EQ(InstallEntries(), std::vector<std::string>{"unins000.dat"});
  EXPECT_TRUE(
      HasMessage(1, L"Uninstaller log has an unexpected layout and was not updated: " + ShownLogPath()))
      << testing::PrintToString(m_messages);
}

INSTANTIATE_TEST_SUITE_P(Refused, UninstallLogLayout, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(UninstallLogLayoutParse, RecordCountThatWouldOverflowIsRefused) {
  ByteVector log = BuildLog(FillerRecords(100), 0x7FFFFFFF);
  ByteVector updated;
  EXPECT_EQ(NolkPatch::AppendDeleteFileRecords(log, {"/x/a"}, updated),
            NolkPatch::UninstallLogEdit::EDIT_TOO_LARGE);
}

}  // namespace
