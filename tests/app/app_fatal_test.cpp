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
