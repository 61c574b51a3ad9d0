// The fatal-fault path: dump name, dump layout, and a real fault in a child
// process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "app/core/FatalError.h"
#include "app/core/ProgressThreads.h"
#include "app_test_support.h"

namespace {

std::uint32_t U32(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
}
std::uint64_t U64(const unsigned char* bytes) {
  return U32(bytes) | (std::uint64_t(U32(bytes + 4)) << 32);
}

TEST(FatalErrorTest, DumpNameCarriesProgramBuildAndLocalTime) {
  std::tm time{};
  time.tm_year = 2024 - 1900;
  time.tm_mon = 2;
  time.tm_mday = 5;
  time.tm_hour = 7;
  time.tm_min = 8;
  time.tm_sec = 9;
  EXPECT_EQ(NolkPatch::CrashDumpFileName(time), "patcher-v35673-2024.03.05-07.08.09.dmp");
}

// Walks the dump as a minidump reader would: header, directory, streams.
TEST(FatalErrorTest, MinidumpHasHeaderDirectoryAndExceptionRecord) {
  unsigned char dump[NolkPatch::kMinidumpSize];
  const std::size_t length = NolkPatch::BuildMinidump(SIGSEGV, 0xdeadbeef, 4242, dump);
  ASSERT_LE(length, sizeof(dump));
  EXPECT_EQ(std::memcmp(dump, "MDMP", 4), 0);
  EXPECT_EQ(U32(dump + 4) & 0xffff, 0xA793u);
  const std::uint32_t streams = U32(dump + 8);
  const std::uint32_t directory = U32(dump + 12);
  bool sawException = false;
  bool sawSystemInfo = false;
  for (std::uint32_t i = 0; i < streams; ++i) {
    const unsigned char* entry = dump + directory + 12 * i;
    const std::uint32_t type = U32(entry);
    const std::uint32_t size = U32(entry + 4);
    const std::uint32_t rva = U32(entry + 8);
    ASSERT_LE(rva + size, length);
    if (type == 6) {
      sawException = true;
      EXPECT_EQ(U32(dump + rva), 4242u);                       // thread id
      EXPECT_EQ(U32(dump + rva + 8), std::uint32_t(SIGSEGV));  // exception code
      EXPECT_EQ(U64(dump + rva + 24), 0xdeadbeefu);            // exception address
    }
    if (type == 7) {
      sawSystemInfo = true;
      EXPECT_LE(U32(dump + rva + 44) + 4, length);  // service-pack text inside the file
    }
  }
  EXPECT_TRUE(sawException);
  EXPECT_TRUE(sawSystemInfo);
}

void CrashInFolder(const std::filesystem::path& folder) {
  if (chdir(folder.c_str()) != 0) _exit(3);
  NolkPatch::InstallFatalErrorHandling([](const std::wstring& text, const std::wstring& caption) {
    std::fprintf(stderr, "%ls / %ls\n", caption.c_str(), text.c_str());
  });
  std::raise(SIGSEGV);
  _exit(4);
}

TEST(FatalErrorDeathTest, FaultWritesOneDumpAndExitsWith255) {
  // The child must crash in this test's folder, so it is forked, not re-run.
  GTEST_FLAG_SET(death_test_style, "fast");
  app_test::TempFolder folder;
  EXPECT_EXIT(CrashInFolder(folder.Path()), ::testing::ExitedWithCode(255),
              "Fatal Error / Unhandled Exception");
  std::vector<std::filesystem::path> dumps;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) dumps.push_back(entry.path());
  ASSERT_EQ(dumps.size(), 1u);
  const std::string name = dumps[0].filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(patcher-v35673-\d{4}\.\d\d\.\d\d-\d\d\.\d\d\.\d\d\.dmp)")))
      << name;
  const std::string bytes = app_test::ReadFile(dumps[0]);
  ASSERT_GE(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(0, 4), "MDMP");
}

}  // namespace

namespace {

class ThrowingThread : public NolkPatch::wxGuardedThread {
 protected:
  ExitCode Body() override { throw std::runtime_error("worker bug"); }
};

void ThrowInWorker(const std::filesystem::path& folder) {
  if (chdir(folder.c_str()) != 0) _exit(3);
  NolkPatch::InstallFatalErrorHandling(
      [](const std::wstring& text, const std::wstring&) { std::fprintf(stderr, "%ls\n", text.c_str()); });
  ThrowingThread thread;
  thread.Run();
  thread.Wait();
  _exit(4);
}

// An exception escaping a worker body ends the process like a fault.
TEST(FatalErrorDeathTest, ExceptionEscapingAWorkerIsFatal) {
  GTEST_FLAG_SET(death_test_style, "fast");
  app_test::TempFolder folder;
  EXPECT_EXIT(ThrowInWorker(folder.Path()), ::testing::ExitedWithCode(255), "Unhandled Exception");
  EXPECT_FALSE(std::filesystem::is_empty(folder.Path()));
}

}  // namespace
