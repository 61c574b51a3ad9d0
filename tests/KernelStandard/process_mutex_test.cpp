// The named application mutex (its name rule, and single-instance behaviour
// within one process and across two), the running-process query and the
// kernel start-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "KernelStandard/ApplicationMutex.h"
#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/KernelStartup.h"
#include "KernelStandard/ProcessQuery.h"
#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/linux_only.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

using namespace std::chrono_literals;

TEST(ApplicationMutexName, FolderWithOrWithoutTrailingSeparatorGivesTheSameName) {
  EXPECT_EQ(NolkUtil::ApplicationMutexName(L"C:\\Games\\Sim\\"), "NOLK_c__games_sim");
  EXPECT_EQ(NolkUtil::ApplicationMutexName(L"C:\\Games\\Sim"), "NOLK_c__games_sim");
  EXPECT_EQ(NolkUtil::ApplicationMutexName(L"/opt/Ombrix/"), "NOLK__opt_ombrix");
}

TEST(ApplicationMutexName, CharactersOutsideTheNameSetBecomeUnderscores) {
  EXPECT_EQ(NolkUtil::ApplicationMutexName(L"D:\\My Games\\Ombrix-2.0 (x86)"),
            "NOLK_d__my_games_ombrix-2.0__x86_");
  EXPECT_EQ(NolkUtil::ApplicationMutexName(L"C:\\Spiele\\\u00c4rger\u00bb"), "NOLK_c__spiele__rger_");
}

// A folder of its own per test, so names never meet those of another run.
class ApplicationMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel-appmutex-XXXXXX";
    m_folder = ::mkdtemp(pattern);
    m_wideFolder = OS::FromUtf8(m_folder);
  }
  void TearDown() override {
    NolkUtil::CloseApplicationMutex();
    std::filesystem::remove_all(m_folder);
  }

  std::string m_folder;
  std::wstring m_wideFolder;
};

TEST_F(ApplicationMutexTest, SharedOpenTwiceInOneProcessSucceedsButExclusiveAfterSharedIsRefused) {
  EXPECT_FALSE(NolkUtil::ApplicationMutexCreatedHere());
  ASSERT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, false));
  EXPECT_TRUE(NolkUtil::ApplicationMutexCreatedHere());
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, false));
  EXPECT_FALSE(NolkUtil::OpenApplicationMutex(m_wideFolder, true));
  NolkUtil::CloseApplicationMutex();
  EXPECT_FALSE(NolkUtil::ApplicationMutexCreatedHere());
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, true)) << "free again after closing";
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, true));
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, false)) << "exclusive covers shared use";
}

// The second process: this test program itself, run with an environment
// variable that turns the helper test below into the other program. It
// opens the mutex, reports the outcome in its exit code, and when asked to
// hold it, signals readiness with a file and waits for a release file.
constexpr char kChildVariable[] = "KORVEL_APPMUTEX_CHILD";
constexpr int kChildOpened = 20;
constexpr int kChildRefused = 21;

TEST(ApplicationMutexChild, HelperProcess) {
  const char* request = std::getenv(kChildVariable);
  if (request == nullptr) GTEST_SKIP() << "runs only as the second process of the application mutex tests";
  // folder \n mode (e, s) \n hold (0, 1) \n folder for the handshake files
  std::istringstream fields(request);
  std::string folder, mode, hold, handshake;
  std::getline(fields, folder);
  std::getline(fields, mode);
  std::getline(fields, hold);
  std::getline(fields, handshake);
  const bool opened = NolkUtil::OpenApplicationMutex(OS::FromUtf8(folder), mode == "e");
  if (opened && hold == "1") {
    std::ofstream(handshake + "/ready") << "ready";
    for (int i = 0; i < 3000 && !std::filesystem::exists(handshake + "/release"); ++i)
      std::this_thread::sleep_for(10ms);
  }
  std::_Exit(opened ? kChildOpened : kChildRefused);
}

class OtherProcess {
 public:
  OtherProcess(const std::string& folder, bool exclusive, bool hold, const std::string& handshake) {
    const std::string request =
        folder + "\n" + (exclusive ? "e" : "s") + "\n" + (hold ? "1" : "0") + "\n" + handshake;
    ::setenv(kChildVariable, request.c_str(), 1);
    OS::SpawnedProcess child;
    const std::string self = OS::ToUtf8(OS::Current().ExecutablePath());
    m_started =
        OS::Current().SpawnWithPipe({self, "--gtest_filter=ApplicationMutexChild.HelperProcess"}, child);
    ::unsetenv(kChildVariable);
    m_pid = child.pid;
    m_output = child.outputFd;
  }
  ~OtherProcess() {
    if (m_started && !m_waited) Finish();
  }

  bool Started() const { return m_started; }
  int Pid() const { return m_pid; }
  // Waits for the end and returns the exit code.
  int Finish() {
    char buffer[4096];
    while (OS::Current().ReadPipe(m_output, buffer, sizeof buffer) > 0) {
    }
    OS::Current().ClosePipe(m_output);
    int exitCode = -1;
    OS::Current().WaitProcess(m_pid, 60000, exitCode);
    m_waited = true;
    return exitCode;
  }

 private:
  bool m_started = false;
  bool m_waited = false;
  int m_pid = -1;
  int m_output = -1;
};

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST_F(ApplicationMutexTest, ExclusiveHolderKeepsEveryOtherProcessOut) {
  ASSERT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, true));
  OtherProcess exclusive(m_folder, true, false, m_folder);
  ASSERT_TRUE(exclusive.Started());
  EXPECT_EQ(exclusive.Finish(), kChildRefused);
  OtherProcess shared(m_folder, false, false, m_folder);
  EXPECT_EQ(shared.Finish(), kChildRefused);
  NolkUtil::CloseApplicationMutex();
  OtherProcess afterwards(m_folder, true, false, m_folder);
  EXPECT_EQ(afterwards.Finish(), kChildOpened);
}

TEST_F(ApplicationMutexTest, SharedHoldersAdmitEachOtherButNoExclusiveOpener) {
  OtherProcess holder(m_folder, false, true, m_folder);
  ASSERT_TRUE(holder.Started());
  ASSERT_TRUE(WaitForFile(m_folder + "/ready"));
  EXPECT_FALSE(NolkUtil::OpenApplicationMutex(m_wideFolder, true));
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, false));
  EXPECT_FALSE(NolkUtil::ApplicationMutexCreatedHere()) << "the other process created it";
  std::ofstream(m_folder + "/release") << "go";
  EXPECT_EQ(holder.Finish(), kChildOpened);
}

TEST_F(ApplicationMutexTest, MutexOfAKilledHolderIsFreeAgain) {
  OtherProcess holder(m_folder, true, true, m_folder);
  ASSERT_TRUE(WaitForFile(m_folder + "/ready"));
  EXPECT_FALSE(NolkUtil::OpenApplicationMutex(m_wideFolder, false));
  ::kill(holder.Pid(), SIGKILL);
  holder.Finish();
  EXPECT_TRUE(NolkUtil::OpenApplicationMutex(m_wideFolder, true));
}

TEST(ProcessQuery, RunningEndedAndUnknownProcesses) {
  KORVEL_LINUX_ONLY("the child is ended with SIGKILL and reaped as a zombie");
  EXPECT_TRUE(NolkUtil::IsProcessRunning(OS::Current().ProcessId()));
  EXPECT_FALSE(NolkUtil::IsProcessRunning(0));

  int pid = -1;
  ASSERT_TRUE(OS::Current().SpawnDetached({"/bin/sleep", "30"}, pid));
  EXPECT_TRUE(NolkUtil::IsProcessRunning(static_cast<std::uint32_t>(pid)));
  ::kill(pid, SIGKILL);
  // Until the child is reaped it is a zombie: ended, so not running.
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i) {
    ended = !NolkUtil::IsProcessRunning(static_cast<std::uint32_t>(pid));
    if (!ended) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(ended);
  int exitCode = 0;
  OS::Current().WaitProcess(pid, 10000, exitCode);
  EXPECT_FALSE(NolkUtil::IsProcessRunning(static_cast<std::uint32_t>(pid)));
}

// Start-up changes process-wide state (the locale, exit callbacks), so it
// runs in a child process.
TEST(KernelStartup, RunsOnceAndRunsItsShutdownCallbacksNewestFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("LC_ALL", "C.UTF-8", 1);
        KernelStartup();
        Vek::StringPool* pool = Vek::KernelStringPool();
        if (pool == nullptr) std::_Exit(10);
        if (Vek::MainThreadId() != OS::CurrentThreadId()) std::_Exit(11);
        KernelStartup();
        if (Vek::KernelStringPool() != pool) std::_Exit(12);
        // The character-type locale is the system's: the environment's on
        // Linux, the ANSI code page's on Windows.
        const char* locale = std::setlocale(LC_CTYPE, nullptr);
#ifdef _WIN32
        const std::string started = locale == nullptr ? "" : locale;
        const char* codePage = std::setlocale(LC_CTYPE, ".ACP");
        if (codePage == nullptr || started != codePage || started == "C") std::_Exit(13);
#else
        if (locale == nullptr || std::string(locale) != "C.UTF-8") std::_Exit(13);
#endif
        static std::string order;
        Vek::RegisterShutdownCallback([] { order += "a"; });
        Vek::RegisterShutdownCallback([] { order += "b"; });
        Vek::RunShutdownCallbacks();
        if (order != "ba") std::_Exit(14);
        if (Vek::KernelStringPool() != nullptr) std::_Exit(15);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(KernelStartup, AFullShutdownTableStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        for (int i = 0; i <= Vek::kMaxShutdownCallbacks; ++i) Vek::RegisterShutdownCallback([] {});
      },
      "Assertion failed: g_shutdownCallbackCount < kMaxShutdownCallbacks");
}

TEST(KernelStringPool, EqualTextsShareOneCopyUntilTheLastRelease) {
  Vek::StringPool pool;
  const Alloc::Text* first = pool.Acquire("Launcher.exe");
  const Alloc::Text* second = pool.Acquire(std::string("Launcher") + ".exe");
  const Alloc::Text* other = pool.Acquire("other");
  EXPECT_EQ(first, second);
  EXPECT_NE(first, other);
  EXPECT_EQ(pool.Size(), 2u);
  pool.Release(first);
  EXPECT_EQ(pool.Size(), 2u);
  EXPECT_EQ(*second, "Launcher.exe");
  pool.Release(second);
  pool.Release(other);
  EXPECT_EQ(pool.Size(), 0u);
}

TEST(KernelStringPool, LongTextsLiveInSmallBlocks) {
  Vek::StringPool pool;
  const std::string text(40, 'x');  // beyond the string's own inline room
  const std::uint32_t blockClass = static_cast<std::uint32_t>(Alloc::BlockBytes(text.size() + 1) / 8);
  pool.Release(pool.Acquire(text));  // the class now has a chunk cut into free blocks
  const std::size_t freeBefore = Alloc::FreeBlocks(blockClass);
  const Alloc::Text* stored = pool.Acquire(text);
  EXPECT_EQ(Alloc::FreeBlocks(blockClass), freeBefore - 1);
  EXPECT_EQ(std::string_view(*stored), text);
  pool.Release(stored);
  EXPECT_EQ(Alloc::FreeBlocks(blockClass), freeBefore);
}

}  // namespace
