// The channel log: header, channel lookup and the kernel log file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "KernelStandard/LogChannel.h"
#include "KernelStandard/LogClock.h"
#include "log_test_support.h"

namespace {

using logtest::HookedPlatform;
using logtest::MatchesShape;
using logtest::ReadFile;
using logtest::TempFolder;

std::string ThreadIdText() {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(OS::Current().ThreadId()));
  return text;
}

// Collects what the channels print to the standard-stream destination.
#ifdef _WIN32
// Windows has no memory streams: a temporary file is read back instead.
class StreamCapture {
 public:
  StreamCapture() : m_stream(std::tmpfile()) { Vek::SetKernelLogStream(m_stream); }
  ~StreamCapture() {
    Vek::SetKernelLogStream(nullptr);
    std::fclose(m_stream);
  }
  std::string Text() {
    std::fflush(m_stream);
    const long end = std::ftell(m_stream);
    std::string text(end > 0 ? static_cast<std::size_t>(end) : 0, '\0');
    std::rewind(m_stream);
    text.resize(std::fread(text.data(), 1, text.size(), m_stream));
    std::fseek(m_stream, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* m_stream;
};
#else
class StreamCapture {
 public:
  StreamCapture() : m_stream(open_memstream(&m_buffer, &m_size)) { Vek::SetKernelLogStream(m_stream); }
  ~StreamCapture() {
    Vek::SetKernelLogStream(nullptr);
    std::fclose(m_stream);
    std::free(m_buffer);
  }
  std::string Text() {
    std::fflush(m_stream);
    return std::string(m_buffer, m_size);
  }

 private:
  char* m_buffer = nullptr;
  std::size_t m_size = 0;
  std::FILE* m_stream;
};
#endif

class LogChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { Vek::SetKernelLogStartTime(0); }
  void TearDown() override {
    Vek::SetKernelLogStartTime(0);
    Vek::KernelLogShutdown();
    Vek::SetKernelLogFlushEachLine(false);
  }
};

TEST(LogChannelHeader, LevelsMinutesAndNameColumns) {
  EXPECT_EQ(Vek::FormatChannelHeader(0, 0xAB, 0, "Ombrix"), "  000000AB None   0:00.0 Ombrix          : ");
  EXPECT_EQ(Vek::FormatChannelHeader(1, 0x1234ABCD, 75.5, "ExceptionHandler"),
            "! 1234ABCD Err    1:15.5 ExceptionHandle : ");
  EXPECT_EQ(Vek::FormatChannelHeader(2, 1, 59.99, "x"), "? 00000001 Warn   1:00.0 x               : ");
  EXPECT_EQ(Vek::FormatChannelHeader(3, 1, 3600, "x"), "+ 00000001 Diag  60:00.0 x               : ");
  EXPECT_EQ(Vek::FormatChannelHeader(4, 1, 599999.9, "x"), "- 00000001 Prog 9999:59.9 x               : ");
}

TEST(LogChannelHeader, OutOfRangeLevelsAndNegativeTimesPrintAsNone) {
  EXPECT_EQ(Vek::FormatChannelHeader(7, 1, -3, "x"), "  00000001 None   0:00.0 x               : ");
  EXPECT_EQ(Vek::FormatChannelHeader(-1, 1, 0, "x"), "  00000001 None   0:00.0 x               : ");
}

TEST_F(LogChannelTest, WithoutStartTimeTheLineShowsZeroElapsedTime) {
  StreamCapture capture;
  Vek::LogChannel& channel = Vek::FindLogChannel("Ombrix");
  channel.SetLevel(Vek::LogChannel::LEVEL_WARNING);
  channel.Print("Patch %s applied", "1.2");
  EXPECT_EQ(capture.Text(), "? " + ThreadIdText() + " Warn   0:00.0 Ombrix          : Patch 1.2 applied\r\n");
}

TEST_F(LogChannelTest, ElapsedTimeCountsFromTheStartTime) {
  StreamCapture capture;
  Vek::SetKernelLogStartTime(Vek::LogCounterSeconds() - 125.0);
  Vek::LogChannel& channel = Vek::FindLogChannel("ExceptionHandler");
  channel.SetLevel(Vek::LogChannel::LEVEL_ERROR);
  channel.Print("fault");
  const std::string line = capture.Text();
  ASSERT_TRUE(MatchesShape(line, "! XXXXXXXX Err    2:09.9 ExceptionHandle : fault\r\n")) << line;
  EXPECT_GE(line[21], '5') << line;  // 125 seconds and a little
}

TEST_F(LogChannelTest, FormatBitsControlHeaderAndLineEnd) {
  StreamCapture capture;
  Vek::LogChannel& channel = Vek::FindLogChannel("FormatBitsChannel");
  channel.SetFormat(0);
  channel.Print("bare");
  channel.SetFormat(Vek::LogChannel::FORMAT_LINE_END);
  channel.Print(" line");
  EXPECT_EQ(capture.Text(), "bare line\r\n");
}

TEST_F(LogChannelTest, MessagesHaveNoLengthLimit) {
  StreamCapture capture;
  Vek::LogChannel& channel = Vek::FindLogChannel("LongChannel");
  channel.SetFormat(0);
  const std::string text(20000, 'z');
  channel.Print("%s", text.c_str());
  EXPECT_EQ(capture.Text(), text);
}

TEST(LogChannelLookup, NamesMatchWithoutRegardToCase) {
  Vek::LogChannel& exceptionHandler = Vek::FindLogChannel("exceptionhandler");
  EXPECT_EQ(exceptionHandler.Name(), "ExceptionHandler");
  EXPECT_EQ(&exceptionHandler, &Vek::FindLogChannel("EXCEPTIONHANDLER"));
  EXPECT_EQ(Vek::FindLogChannel("OMBRIX").Name(), "Ombrix");
  EXPECT_NE(&exceptionHandler, &Vek::FindLogChannel("Ombrix"));
}

TEST(LogChannelLookup, UnknownNameCreatesAChannelWithTheDefaults) {
  Vek::LogChannel& channel = Vek::FindLogChannel("FreshChannelName");
  EXPECT_EQ(channel.Name(), "FreshChannelName");
  EXPECT_EQ(&channel, &Vek::FindLogChannel("freshchannelname"));
  EXPECT_EQ(channel.GetThreshold(), 2);
  EXPECT_EQ(channel.GetDestinations(), Vek::LogChannel::DEST_LOG_FILE | Vek::LogChannel::DEST_DEBUGGER);
  EXPECT_EQ(channel.GetFormat(), Vek::LogChannel::FORMAT_LINE_END | Vek::LogChannel::FORMAT_HEADER);
  Vek::SetDefaultLogChannelHeader(false);
  EXPECT_EQ(Vek::FindLogChannel("HeaderlessChannel").GetFormat(), Vek::LogChannel::FORMAT_LINE_END);
  Vek::SetDefaultLogChannelHeader(true);
}

TEST_F(LogChannelTest, LogFileTakesEachLineAndTheShutdownLine) {
  TempFolder folder;
  ASSERT_TRUE(Vek::OpenKernelLogFile(folder.WidePath("kernel.log"), Vek::KernelLogEncoding::Ansi));
  Vek::SetKernelLogFlushEachLine(true);
  Vek::LogChannel& channel = Vek::FindLogChannel("Ombrix");
  channel.SetLevel(Vek::LogChannel::LEVEL_WARNING);
  channel.Print("one");
  EXPECT_EQ(ReadFile(folder.Path("kernel.log")),
            "? " + ThreadIdText() + " Warn   0:00.0 Ombrix          : one\r\n");
  Vek::KernelLogShutdown();
  EXPECT_FALSE(Vek::IsKernelLogFileOpen());
  const std::string content = ReadFile(folder.Path("kernel.log"));
  EXPECT_EQ(content.substr(content.size() - 11), "Shutdown.\r\n");
}

TEST_F(LogChannelTest, Utf16LogFileStartsWithTheByteOrderMark) {
  TempFolder folder;
  ASSERT_TRUE(Vek::OpenKernelLogFile(folder.WidePath("kernel16.log"), Vek::KernelLogEncoding::Utf16));
  Vek::LogChannel& channel = Vek::FindLogChannel("Utf16Channel");
  channel.SetFormat(Vek::LogChannel::FORMAT_LINE_END);
  channel.Print("A\x96");
  Vek::KernelLogShutdown();
  const std::string expected(
      "\xFF\xFE"
      "A\0\x13\x20\r\0\n\0"
      "S\0h\0u\0t\0d\0o\0w\0n\0.\0\r\0\n\0",
      2 + 8 + 22);
  EXPECT_EQ(ReadFile(folder.Path("kernel16.log")), expected);
}

TEST_F(LogChannelTest, UnwritableLogFileIsReportedAndNothingIsOpen) {
  TempFolder folder;
  EXPECT_FALSE(
      Vek::OpenKernelLogFile(folder.WidePath("missing/folder/kernel.log"), Vek::KernelLogEncoding::Ansi));
  EXPECT_FALSE(Vek::IsKernelLogFileOpen());
  Vek::FindLogChannel("Ombrix").Print("goes nowhere but must not crash");
}

TEST_F(LogChannelTest, LogCallFromInsideTheFileWriteSkipsTheFile) {
  TempFolder folder;
  HookedPlatform platform;
  ASSERT_TRUE(Vek::OpenKernelLogFile(folder.WidePath("nested.log"), Vek::KernelLogEncoding::Ansi));
  Vek::LogChannel& channel = Vek::FindLogChannel("NestedChannel");
  channel.SetFormat(Vek::LogChannel::FORMAT_LINE_END);
  int nested = 0;
  std::string debugger;
  platform.onDebugOutput = [&](const std::string& text) { debugger += text; };
  platform.onWriteStream = [&](const std::string& text) {
    if (text == "outer\r\n" && nested++ == 0) channel.Print("nested");
  };
  channel.Print("outer");
  Vek::KernelLogShutdown();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(ReadFile(folder.Path("nested.log")), "outer\r\nShutdown.\r\n");
  EXPECT_EQ(debugger, "nested\r\nouter\r\n");
}

TEST_F(LogChannelTest, KernelLogEndWritesEndAndRecreatesChannelsOnDemand) {
  TempFolder folder;
  ASSERT_TRUE(Vek::OpenKernelLogFile(folder.WidePath("end.log"), Vek::KernelLogEncoding::Ansi));
  Vek::FindLogChannel("ChannelBeforeEnd").SetThreshold(4);
  Vek::KernelLogEnd();
  EXPECT_EQ(ReadFile(folder.Path("end.log")), "End.\r\n");
  EXPECT_EQ(Vek::FindLogChannel("ChannelBeforeEnd").GetThreshold(), 2);
  EXPECT_EQ(Vek::FindLogChannel("exceptionhandler").Name(), "exceptionhandler");
  Vek::KernelLogEnd();
  Vek::FindLogChannel("ExceptionHandler");
  Vek::FindLogChannel("Ombrix");
}

}  // namespace
