#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "StreamTestSupport.h"
#include "stream/NolkDataBufferFile.h"

namespace {

using StreamTest::ReadWholeFile;
using StreamTest::WriteWholeFile;
using File = NolkDataBufferFile;

class FileBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_folder.Valid());
    m_path = m_folder.File("data.bin");
  }
  std::wstring Wide(const std::string& name = "data.bin") const { return m_folder.WideFile(name); }

  static std::string Read(NolkDataBuffer& buffer, std::uint32_t length, NolkResult expected = NOLKRESULT_OK) {
    std::string bytes(length, '\0');
    EXPECT_EQ(buffer.ReadData(bytes.data(), length), expected);
    return bytes;
  }

  StreamTest::TempFolder m_folder;
  std::string m_path;
};

TEST_F(FileBufferTest, ReadOnlyReadsRefusesWritesAndReportsShortReads) {
  WriteWholeFile(m_path, "0123456789");
  File file(Wide(), File::ReadOnly);
  EXPECT_EQ(file.GetSize(), 10u);
  EXPECT_EQ(Read(file, 4), "0123");
  EXPECT_EQ(file.WriteData("x", 1), NOLKRESULT_NOT_ALLOWED);
  EXPECT_EQ(file.WriteData("x", 0), NOLKRESULT_NOT_ALLOWED);
  ASSERT_EQ(file.SetPosition(8), NOLKRESULT_OK);
  EXPECT_EQ(Read(file, 5, NOLKRESULT_FILE_ERROR).substr(0, 2), "89");
  EXPECT_EQ(file.GetPosition(), 10u);
}

TEST_F(FileBufferTest, WriteModesRefuseReads) {
  WriteWholeFile(m_path, "0123456789");
  for (auto mode : {File::WriteNew, File::WriteUpdate}) {
    File file(Wide(), mode);
    char byte = 0;
    EXPECT_EQ(file.ReadData(&byte, 1), NOLKRESULT_NOT_ALLOWED);
  }
}

TEST_F(FileBufferTest, WriteNewTruncatesAndWriteUpdateKeeps) {
  WriteWholeFile(m_path, "old contents");
  {
    File file(Wide(), File::WriteNew);
    EXPECT_EQ(file.GetSize(), 0u);
    ASSERT_EQ(file.WriteData("0123456789", 10), NOLKRESULT_OK);
    file.Flush();
    EXPECT_EQ(ReadWholeFile(m_path), "0123456789");
  }
  {
    File file(Wide(), File::WriteUpdate);
    EXPECT_EQ(file.GetSize(), 10u);
    ASSERT_EQ(file.SetPosition(8), NOLKRESULT_OK);
    ASSERT_EQ(file.WriteData("ABCD", 4), NOLKRESULT_OK);
    EXPECT_EQ(file.GetSize(), 12u);
  }
  EXPECT_EQ(ReadWholeFile(m_path), "01234567ABCD");
}

TEST_F(FileBufferTest, WriteUpdateCreatesAMissingFile) {
  {
    File file(Wide("new.bin"), File::WriteUpdate);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.WriteData("made", 4), NOLKRESULT_OK);
  }
  EXPECT_EQ(ReadWholeFile(m_folder.File("new.bin")), "made");
}

TEST_F(FileBufferTest, FailedOpenLeavesEveryOperationAt7) {
  ::testing::internal::CaptureStdout();
  File unknownMode(Wide(), static_cast<File::AccessMode>(7));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "NolkDataBufferFile> unknown access mode 7\n");
  File missingRead(Wide("absent.bin"), File::ReadOnly);
  File missingReadWrite(Wide("absent.bin"), File::ReadWrite);
  for (File* file : {&unknownMode, &missingRead, &missingReadWrite}) {
    char byte = 0;
    EXPECT_FALSE(file->IsOpen());
    EXPECT_EQ(file->ReadData(&byte, 0), NOLKRESULT_NOT_OPEN);
    EXPECT_EQ(file->WriteData(&byte, 1), NOLKRESULT_NOT_OPEN);
    EXPECT_EQ(file->SetPosition(0), NOLKRESULT_NOT_OPEN);
    EXPECT_EQ(file->SetSize(0), NOLKRESULT_NOT_OPEN);
  }
  EXPECT_FALSE(std::filesystem::exists(m_folder.File("absent.bin")));
  EXPECT_FALSE(std::filesystem::exists(m_path));
}

TEST_F(FileBufferTest, ReadWriteReadsBackWhatItWrote) {
  WriteWholeFile(m_path, "");
  File file(Wide(), File::ReadWrite);
  ASSERT_EQ(file.WriteData("0123456789", 10), NOLKRESULT_OK);
  ASSERT_EQ(file.SetPosition(0), NOLKRESULT_OK);
  EXPECT_EQ(Read(file, 10), "0123456789");
}

TEST_F(FileBufferTest, ReadWriteSwitchesDirectionAtTheKeptPosition) {
  WriteWholeFile(m_path, "ABCDEFGHIJ");
  {
    OS::ScopedFaults counter;  // no rules: only counts the opens
    File file(Wide(), File::ReadWrite);
    EXPECT_EQ(Read(file, 3), "ABC");
    ASSERT_EQ(file.WriteData("xy", 2), NOLKRESULT_OK);
    EXPECT_EQ(Read(file, 5), "FGHIJ");
    ASSERT_EQ(file.WriteData("++", 2), NOLKRESULT_OK);
    EXPECT_EQ(file.GetSize(), 12u);
    EXPECT_EQ(counter.Calls("OpenStream"), 4);  // one open per direction
  }
  EXPECT_EQ(ReadWholeFile(m_path), "ABCxyFGHIJ++");
}

TEST_F(FileBufferTest, WriteBeyondTheEndExtendsTheFile) {
  File file(Wide(), File::WriteNew);
  ASSERT_EQ(file.WriteData("ab", 2), NOLKRESULT_OK);
  ASSERT_EQ(file.SetPosition(6), NOLKRESULT_OK);
  EXPECT_EQ(file.GetSize(), 2u);
  ASSERT_EQ(file.WriteData("z", 1), NOLKRESULT_OK);
  EXPECT_EQ(file.GetSize(), 7u);
  file.Flush();
  EXPECT_EQ(ReadWholeFile(m_path), std::string("ab\0\0\0\0z", 7));
}

TEST_F(FileBufferTest, SetSizeCutsBufferedWritesAndGrowsWithZeros) {
  {
    File file(Wide(), File::WriteNew);
    ASSERT_EQ(file.WriteData("0123456789", 10), NOLKRESULT_OK);
    ASSERT_EQ(file.SetSize(4), NOLKRESULT_OK);
    EXPECT_EQ(file.GetPosition(), 4u);
    ASSERT_EQ(file.WriteData("!", 1), NOLKRESULT_OK);
    ASSERT_EQ(file.SetSize(8), NOLKRESULT_OK);
    EXPECT_EQ(file.GetPosition(), 5u);
    EXPECT_EQ(file.GetSize(), 8u);
  }
  EXPECT_EQ(ReadWholeFile(m_path), std::string("0123!\0\0\0", 8));
}

TEST_F(FileBufferTest, PathIsKeptWithBackslashesAndStillOpens) {
  WriteWholeFile(m_path, "x");
  File file(Wide(), File::ReadOnly);
  EXPECT_EQ(file.GetPath().find(L'/'), std::wstring::npos);
  EXPECT_TRUE(file.IsOpen());
}

TEST_F(FileBufferTest, FailingStreamWriteIsAFileError) {
  File file(Wide(), File::WriteNew);
  OS::ScopedFaults faults;
  OS::FaultRule rule;
  rule.operation = "WriteStream";
  faults.Add(rule);
  EXPECT_EQ(file.WriteData("abc", 3), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(faults.Calls("WriteStream"), 1);
  EXPECT_EQ(file.GetPosition(), 0u);
}

}  // namespace
