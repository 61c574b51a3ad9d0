// The crash handlers beyond the single worker fault: symbolised call
// stacks, the exception kinds and the fatal-error window's gate, two
// threads faulting at once, a stack overflow on a kernel thread, the
// console control events and the dump of another process.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(CrashHandlersPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they raise POSIX signals in forked children; the Windows crash calls are "
                  "covered by win32_crash_test";
}
#else
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KernelStandard/AssertException.h"
#include "KernelStandard/CrashReport.h"
#include "KernelStandard/Exception.h"
#include "KernelStandard/FatalErrorGate.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/VekThread.h"
#include "KernelStandard/platform/Platform.h"
#include "crash_test_support.h"

namespace {

namespace fs = std::filesystem;

using CrashTest::ReadAll;
using Folder = CrashTest::CrashFolder;

struct ChildEnd {
  bool exited = false;
  int code = -1;   // exit status when exited
  int signal = 0;  // the ending signal otherwise
};

// Runs `body` in a forked child whose current and temporary folder is
// `folder` and whose standard output and error go to "out.txt" there.
template <typename Body>
ChildEnd RunChild(const Folder& folder, Body body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("TEMP", folder.Path().c_str(), 1);
    ::setenv("KORVEL_XCRASH_RECORD", (folder / "reporter.txt").c_str(), 1);
    if (::chdir(folder.Path().c_str()) != 0) ::_exit(3);
    if (!std::freopen("out.txt", "w", stdout)) ::_exit(3);
    ::dup2(::fileno(stdout), 2);
    ::alarm(60);  // a hang ends with SIGALRM instead of blocking the suite
    body();
    std::fflush(nullptr);
    ::_exit(4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ChildEnd end;
  end.exited = WIFEXITED(status);
  end.code = end.exited ? WEXITSTATUS(status) : -1;
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return end;
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t> > Streams(const std::string& dump) {
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t> > streams;
  if (dump.size() < 32 || dump.substr(0, 4) != "MDMP") return streams;
  for (std::uint32_t i = 0; i < U32(dump, 8); ++i) {
    const std::size_t entry = U32(dump, 12) + 12 * i;
    streams[U32(dump, entry)] = {U32(dump, entry + 8), U32(dump, entry + 4)};
  }
  return streams;
}

// --- Call stacks ------------------------------------------------------------------

class CollectingObserver : public NolkSystemLogObserver {
 public:
  void OnLogText(const std::wstring& text) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_text += std::string(text.begin(), text.end());
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
  }

 private:
  std::mutex m_lock;
  std::string m_text;
};

__attribute__((noinline)) void CrashStackLoggingFunction() {
  Vek::LogCallStack(true);
  asm volatile("");  // keeps the call from becoming a tail jump
}

TEST(CrashCallStackTest, FramesCarryModuleFunctionFileAndLine) {
  CollectingObserver observer;
  RegisterSystemLogObserver(&observer);
  CrashStackLoggingFunction();
  UnregisterSystemLogObserver(&observer);
  const std::string text = observer.Text();
  EXPECT_NE(text.find("callstack: "), std::string::npos) << text;
  // "  <module> <function> [<file>:<line>]" for the calling function.
  const std::string program = OS::ToUtf8(OS::Current().ExecutablePath());
  const std::size_t frame = text.find("CrashStackLoggingFunction() [");
  ASSERT_NE(frame, std::string::npos) << text;
  const std::size_t lineStart = text.rfind('\n', frame) + 1;
  const std::string line = text.substr(lineStart, text.find('\n', frame) - lineStart);
  EXPECT_EQ(line.rfind("  " + program + " ", 0), 0u) << line;
  EXPECT_NE(line.find("crash_handlers_test.cpp:"), std::string::npos) << line;
  const int number = std::atoi(line.c_str() + line.rfind(':') + 1);
  EXPECT_GT(number, 100) << line;
  // The test body that called it is named as well, below it.
  EXPECT_NE(text.find("CrashCallStackTest_FramesCarryModuleFunctionFileAndLine_Test::TestBody()", frame),
            std::string::npos);
}

// --- Exceptions and the fatal-error window ------------------------------------------

TEST(CrashExceptionTest, KindsNameTheirClassAndKeepTheirTexts) {
  const Vek::FileEx file("Write() File not open", "KernelStandard\\File", 124);
  EXPECT_STREQ(file.GetClassName(), "File");
  EXPECT_STREQ(file.GetReason(), "Write() File not open");
  EXPECT_STREQ(file.GetCallStack(), "No call stack available\r\n");
  EXPECT_EQ(file.GetFlag(), 0);
  const Vek::Exception& base = file;
  EXPECT_STREQ(base.GetClassName(), "File") << "the class name is virtual";
  EXPECT_STREQ(Vek::Exception(nullptr, 0, "x").GetClassName(), "Unknown");
  EXPECT_STREQ(Vek::AssertEx("checked", "a.cpp", 1).GetClassName(), "Assert");
  const OmbrixEx product("database locked");
  EXPECT_STREQ(product.GetClassName(), "Ombrix Error");
  EXPECT_STREQ(product.SourceFile(), ".\\OmbrixLog");
  EXPECT_EQ(product.SourceLine(), 53);
  // A long reason is cut to its buffer instead of overrunning it.
  const std::string longReason(1000, 'r');
  EXPECT_EQ(std::strlen(Vek::FileEx(longReason, "f", 1).GetReason()), Vek::Exception::kReasonCapacity - 1);
}

TEST(CrashExceptionTest, WindowLinesLeaveOutMissingFileAndLineAndSplitTheCallStack) {
  Vek::FileEx full("disk full", "KernelStandard\\File", 42);
  full.SetCallStack("frame one\r\nframe two\r\n");
  EXPECT_EQ(
      Vek::FatalErrorLines(full),
      (std::vector<std::string>{"File: KernelStandard\\File", "Line: 42", "Class: File", "Reason: disk full",
                                "Version: Vek vRRRRR.RR Build 1234.5.QQQQQ", "frame one", "frame two"}));
  const Vek::FileEx bare("no place", "", 0);
  const std::vector<std::string> lines = Vek::FatalErrorLines(bare);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Class: File");
  EXPECT_EQ(lines[1], "Reason: no place");
  EXPECT_EQ(lines.back(), "No call stack available");
}

// The window's answers and the gate are process-wide, so each case runs in
// a child; the child's exit code carries the result of its checks.
std::atomic<int> g_windowCalls{0};
std::atomic<int> g_windowAnswer{0};
std::mutex g_windowLock;
std::condition_variable g_windowChanged;
bool g_windowOpen = false;
bool g_windowRelease = false;

int BlockingWindow(const Vek::Exception&) {
  ++g_windowCalls;
  std::unique_lock<std::mutex> lock(g_windowLock);
  g_windowOpen = true;
  g_windowChanged.notify_all();
  g_windowChanged.wait(lock, [] { return g_windowRelease; });
  return g_windowAnswer.load();
}

int AnsweringWindow(const Vek::Exception&) {
  ++g_windowCalls;
  return g_windowAnswer.load();
}

TEST(CrashFatalWindowTest, OneWindowAtATimeAndQuittingClosesTheGate) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    const Vek::FileEx exception("broken", "f.cpp", 7);
    Vek::SetFatalErrorWindow(BlockingWindow);
    g_windowAnswer = Vek::kFatalErrorContinue;
    int first = -2;
    std::thread shower([&] { first = Vek::ShowFatalError(exception); });
    {
      std::unique_lock<std::mutex> lock(g_windowLock);
      g_windowChanged.wait(lock, [] { return g_windowOpen; });
    }
    // Another thread asking while the window is up is told "quit" at once.
    if (Vek::ShowFatalError(exception) != Vek::kFatalErrorQuit) ::_exit(10);
    {
      std::lock_guard<std::mutex> lock(g_windowLock);
      g_windowRelease = true;
    }
    g_windowChanged.notify_all();
    shower.join();
    if (first != Vek::kFatalErrorContinue || g_windowCalls != 1) ::_exit(11);
    if (Vek::FatalErrorGateIsSet()) ::_exit(12);
    // After "continue" the window can be shown again; "quit" closes the
    // gate, and no window is shown after that.
    Vek::SetFatalErrorWindow(AnsweringWindow);
    g_windowAnswer = Vek::kFatalErrorQuit;
    if (Vek::ShowFatalError(exception) != Vek::kFatalErrorQuit || g_windowCalls != 2) ::_exit(13);
    if (!Vek::FatalErrorGateIsSet()) ::_exit(14);
    g_windowAnswer = Vek::kFatalErrorContinue;
    if (Vek::ShowFatalError(exception) != Vek::kFatalErrorQuit || g_windowCalls != 2) ::_exit(15);
    ::_exit(0);
  });
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0) << ReadAll(folder / "out.txt");
}

TEST(CrashFatalWindowTest, WithoutAWindowTheLinesGoToStandardErrorAndTheThreadGoesOn) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::SetFatalErrorWindow(nullptr);
    const int result = Vek::ShowFatalError(Vek::FileEx("disk on fire", "KernelStandard\\File", 124));
    std::fflush(nullptr);
    ::_exit(result == Vek::kFatalErrorNotShown && !Vek::FatalErrorGateIsSet() ? 0 : 10);
  });
  EXPECT_EQ(end.code, 0);
  const std::string out = ReadAll(folder / "out.txt");
  EXPECT_NE(out.find("File: KernelStandard\\File\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Line: 124\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Class: File\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Reason: disk on fire\n"), std::string::npos) << out;
}

TEST(CrashFatalWindowTest, AWindowThatBreaksIsReportedAndStopsThePrograms) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::SetFatalErrorWindow([](const Vek::Exception&) -> int { throw Vek::FatalErrorWindowBroken{}; });
    const int result = Vek::ShowFatalError(Vek::FileEx("x", "f", 1));
    std::fflush(nullptr);
    ::_exit(result == Vek::kFatalErrorQuit && Vek::FatalErrorGateIsSet() ? 0 : 10);
  });
  EXPECT_EQ(end.code, 0);
  EXPECT_NE(ReadAll(folder / "out.txt")
                .find("Fatal Error: An error occurred trying to display the fatal error window! (0)"),
            std::string::npos);
}

// --- Faults ---------------------------------------------------------------------------

volatile std::uintptr_t g_nowhere = 0;

__attribute__((noinline)) void FaultAtAddressZero() {
  *reinterpret_cast<volatile int*>(g_nowhere) = 1;
}

std::uint32_t ExceptionThread(const std::string& dump) {
  auto streams = Streams(dump);
  return streams.count(6) ? U32(dump, streams[6].first) : 0;
}

TEST(CrashConcurrentFaultTest, TwoWorkersFaultingAtOnceGiveOneReportAndTheSecondReachesTheDump) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::InstallCrashHandlers(1);
    std::barrier start(2);
    auto worker = [&] {
      start.arrive_and_wait();
      FaultAtAddressZero();
    };
    std::thread first(worker), second(worker);
    first.join();
    second.join();
  });
  EXPECT_EQ(end.code, 255);
  const std::string report = ReadAll(folder / "ERRORLOG.TXT");
  EXPECT_EQ(report.find("caused an Access Violation"), report.rfind("caused an Access Violation"))
      << "one report";
  const std::string crashDump = ReadAll(folder / "CRASH.DMP");
  const std::string unhandled = ReadAll(folder / "Ombrix-40040.dmp");
  const std::uint32_t reported = ExceptionThread(crashDump);
  const std::uint32_t dumped = ExceptionThread(unhandled);
  EXPECT_NE(reported, 0u);
  EXPECT_NE(dumped, 0u);
  EXPECT_NE(reported, dumped) << "the second thread's fault goes on to the unhandled-fault dump";
  EXPECT_FALSE(fs::exists(folder / "Ombrix-40040_2.dmp")) << "one unhandled-fault dump";
  // Each dump lists both faulting threads (one from its own fault context).
  auto streams = Streams(unhandled);
  ASSERT_TRUE(streams.count(3));
  EXPECT_GE(U32(unhandled, streams[3].first), 3u) << "the main thread and both workers";
  // The log after the dump names the faulting function with its source line.
  const std::string out = ReadAll(folder / "out.txt");
  EXPECT_NE(out.find("CreateMiniDump: Ombrix-40040.dmp"), std::string::npos) << out;
  EXPECT_NE(out.find("FaultAtAddressZero() [" __FILE__ ":"), std::string::npos) << out;
}

volatile bool g_deeper = true;  // always true; the compiler cannot know

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[1024];
  pad[0] = static_cast<char>(depth);
  return g_deeper ? Recurse(depth + 1) + pad[0] : 0;
}

TEST(CrashConcurrentFaultTest, StackOverflowOnAKernelThreadIsStillReported) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::InstallCrashHandlers(1);
    Vek::Thread thread([](void*) { return Recurse(0); }, nullptr, true);
    thread.Lock(OS::INFINITE_WAIT);
  });
  EXPECT_TRUE(end.exited) << "signal " << end.signal << ": the handler had no stack to run on";
  EXPECT_EQ(end.code, 255);
  EXPECT_NE(ReadAll(folder / "ERRORLOG.TXT").find("caused an Access Violation"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder / "Ombrix-40040.dmp"));
}

// The runtime's own failures (an exception nobody catches, a pure virtual
// call) end in its terminate path, which leaves a dump like a fault.
TEST(CrashConcurrentFaultTest, AnUncaughtExceptionEndsThroughTheTerminatePathWithADump) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::InstallCrashHandlers(1);
    std::thread thread([] { throw std::runtime_error("nobody catches this"); });
    thread.join();
  });
  EXPECT_EQ(end.code, 255);
  EXPECT_NE(ReadAll(folder / "out.txt").find("Terminate handler> nobody catches this"), std::string::npos)
      << ReadAll(folder / "out.txt");
  EXPECT_TRUE(fs::exists(folder / "Ombrix-40040.dmp"));
}

// --- Console control events -------------------------------------------------------

TEST(CrashConsoleControlTest, InConsoleModeOneAnEventEndsTheProgramQuietly) {
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    Folder folder;
    const ChildEnd end = RunChild(folder, [signalNumber] {
      Vek::InstallCrashHandlers(1);
      ::kill(::getpid(), signalNumber);
      for (;;) ::pause();
    });
    EXPECT_EQ(end.signal, signalNumber) << "ends as the event ends a program";
    const std::string out = ReadAll(folder / "out.txt");
    const int controlType = signalNumber == SIGINT ? 0 : signalNumber == SIGHUP ? 2 : 6;
    EXPECT_NE(out.find("Console Window event handler called for CtrlType=" + std::to_string(controlType)),
              std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(folder / "Ombrix-40040.dmp")) << "no dump: the trap was disarmed";
  }
}

TEST(CrashConsoleControlTest, OtherwiseTheCloseRequestIsNotedAndTheProgramGoesOn) {
  Folder folder;
  const ChildEnd end = RunChild(folder, [] {
    Vek::InstallCrashHandlers(0);
    ::kill(::getpid(), SIGHUP);
    for (int waited = 0; waited < 500 && !Vek::ConsoleCloseRequested(); ++waited) ::usleep(10000);
    Vek::DisarmExitTrap();
    std::exit(Vek::ConsoleCloseRequested() ? 0 : 10);
  });
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
}

// --- The dump of another process ------------------------------------------------

__attribute__((noinline)) void RemoteTargetWaits(int ready) {
  const char byte = 1;
  if (::write(ready, &byte, 1) != 1) ::_exit(2);
  for (;;) ::pause();
}

TEST(CrashRemoteDumpTest, AnotherProcessIsDumpedWithItsThreadsUnderUniqueNames) {
  Folder folder;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  std::fflush(nullptr);
  const pid_t target = ::fork();
  if (target == 0) {
    ::close(ready[0]);
    std::thread helper([] {
      for (;;) ::pause();
    });
    RemoteTargetWaits(ready[1]);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  const ChildEnd end = RunChild(folder, [target] {
    char first[1024], second[1024];
    const bool one = Vek::WriteRemoteMiniDump(static_cast<std::uint32_t>(target), first, sizeof(first));
    const bool two = Vek::WriteRemoteMiniDump(static_cast<std::uint32_t>(target), second, sizeof(second));
    std::printf("%s\n%s\n", first, second);
    std::fflush(nullptr);
    ::_exit(one && two ? 0 : 10);
  });
  const bool targetRunning = ::kill(target, 0) == 0;
  ::kill(target, SIGKILL);
  ::waitpid(target, nullptr, 0);
  EXPECT_TRUE(targetRunning) << "the target goes on after being dumped";
  ASSERT_EQ(end.code, 0) << ReadAll(folder / "out.txt");
  EXPECT_NE(ReadAll(folder / "out.txt").find("nolk-remote-v35673.dmp\nnolk-remote-v35673_2.dmp\n"),
            std::string::npos);
  const std::string dump = ReadAll(folder / "nolk-remote-v35673.dmp");
  auto streams = Streams(dump);
  for (std::uint32_t type : {3u, 4u, 5u, 7u, 15u, 0x47670009u}) EXPECT_TRUE(streams.count(type)) << type;
  EXPECT_FALSE(streams.count(6)) << "no exception in a dump of a running process";
  ASSERT_TRUE(streams.count(3));
  const std::uint32_t threads = streams[3].first;
  ASSERT_EQ(U32(dump, threads), 2u);
  bool sawMainThread = false;
  for (std::uint32_t i = 0; i < 2; ++i) {
    const std::size_t thread = threads + 4 + 48 * i;
    if (U32(dump, thread) == static_cast<std::uint32_t>(target)) sawMainThread = true;
    EXPECT_GT(U32(dump, thread + 32), 0u) << "stack memory";
  }
  EXPECT_TRUE(sawMainThread);
  EXPECT_EQ(U32(dump, streams[15].first + 8), static_cast<std::uint32_t>(target)) << "the process id";
}

}  // namespace

#endif  // _WIN32
