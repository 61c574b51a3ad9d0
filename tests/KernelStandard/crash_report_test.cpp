// Crash reports from real faults in child processes: the exception report,
// the minidumps (their layout and whether lldb can read them), the
// crash-report program's start, the exit trap and the dump names.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(CrashReportPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they fork faulting children and read their reports with waitpid and lldb";
}
#else
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "KernelStandard/CrashReport.h"
#include "KernelStandard/platform/Platform.h"
#include "crash_test_support.h"

namespace {

namespace fs = std::filesystem;

using CrashTest::CrashFolder;
using CrashTest::ReadAll;

// The addresses come from volatile variables, so the compiler cannot see
// the faults coming and leave the calls out.
volatile std::uintptr_t g_addressZero = 0;
volatile std::uintptr_t g_addressSixteen = 16;

__attribute__((noinline)) void CrashingWorkerReadsAddressZero() {
  std::printf("%d\n", *reinterpret_cast<volatile int*>(g_addressZero));
}

__attribute__((noinline)) void CrashingWorkerWritesAddressSixteen() {
  *reinterpret_cast<volatile int*>(g_addressSixteen) = 1;
}

// Runs `body` in a forked child prepared as a crashing program would be;
// returns the child's exit status (-1 when it did not exit normally).
template <typename Body>
int RunChild(const CrashFolder& folder, Body body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("TEMP", folder.Path().c_str(), 1);
    ::setenv("KORVEL_XCRASH_RECORD", (folder.Path() / "reporter.txt").c_str(), 1);
    if (::chdir(folder.Path().c_str()) != 0) ::_exit(3);
    body();
    ::_exit(4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CrashInWorker(void (*worker)()) {
  Vek::InstallCrashHandlers(1);
  std::thread thread(worker);
  thread.join();
}

// One worker fault, shared by the checks of its report and dumps.
class WorkerFaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = new CrashFolder;
    s_status = RunChild(*s_folder, [] { CrashInWorker(CrashingWorkerReadsAddressZero); });
  }
  static void TearDownTestSuite() {
    delete s_folder;
    s_folder = nullptr;
  }
  static fs::path File(const char* name) { return s_folder->Path() / name; }

  static CrashFolder* s_folder;
  static int s_status;
};
CrashFolder* WorkerFaultTest::s_folder = nullptr;
int WorkerFaultTest::s_status = 0;

TEST_F(WorkerFaultTest, EndsWithStatus255AndLeavesReportDumpsAndReporterRun) {
  EXPECT_EQ(s_status, 255);
  EXPECT_TRUE(fs::exists(File("ERRORLOG.TXT")));
  EXPECT_TRUE(fs::exists(File("CRASH.DMP")));
  EXPECT_TRUE(fs::exists(File("Ombrix-40040.dmp"))) << "the unhandled-fault dump in the current folder";
  // The crash-report program runs on its own after the crash: wait for it.
  std::string reporter;
  for (int waited = 0; waited < 1000 && reporter.find('\n', reporter.find('\n') + 1) == std::string::npos;
       ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    reporter = ReadAll(File("reporter.txt"));
  }
  const std::string program = OS::ToUtf8(OS::Current().ExecutablePath());
  const std::string folder = fs::path(program).parent_path().string();
  EXPECT_EQ(reporter, folder + "/XCrashReport.exe\n" + fs::path(program).filename().string() + "\n");
}

TEST_F(WorkerFaultTest, ReportNamesFaultSystemRegistersStackAndModules) {
  const std::string report = ReadAll(File("ERRORLOG.TXT"));
  const std::string program = OS::ToUtf8(OS::Current().ExecutablePath());
  const std::string name = fs::path(program).stem().string();
  const std::string heading = name + " caused an Access Violation (0xc0000005) \r\nin module " +
                              fs::path(program).filename().string() + " at ";
  EXPECT_TRUE(report.starts_with(heading)) << report.substr(0, 200);
  EXPECT_NE(report.find("Exception handler called in main thread.\r\n"), std::string::npos);
  EXPECT_NE(report.find("Read from location 00000000 caused an access violation.\r\n"), std::string::npos);
  OS::SystemDescription system;
  ASSERT_TRUE(OS::Current().DescribeSystem(system));
  char osLine[200];
  std::snprintf(osLine, sizeof(osLine), "Operating system:  Linux (%u.%u.%u).\r\n", system.major,
                system.minor, system.build);
  EXPECT_NE(report.find(osLine), std::string::npos);
  EXPECT_NE(report.find("\r\nContext:\r\nRDI:    0x"), std::string::npos);
  EXPECT_NE(report.find("RIP:    0x"), std::string::npos);
  EXPECT_NE(report.find("\r\nBytes at CS:EIP:\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\n\r\nStack:\r\n0x"), std::string::npos);
  EXPECT_NE(report.find("Module 1\r\n" + program + "\r\nImage Base: 0x"), std::string::npos);
  EXPECT_NE(report.find("libc.so"), std::string::npos);
  EXPECT_NE(report.find("Build Id:   "), std::string::npos);
  EXPECT_TRUE(report.ends_with("\r\n===== [end of ERRORLOG.TXT] =====\r\n"));
  // Every line of the stack section has the same width, so the character
  // column lines up even on a short last line.
  const std::size_t stack = report.find("Stack:\r\n") + 8;
  const std::size_t stackEnd = report.find("\r\n\r\n", stack);
  std::istringstream lines(report.substr(stack, stackEnd - stack));
  std::string line;
  std::size_t column = std::string::npos;
  while (std::getline(lines, line)) {
    const std::size_t at = 2 + 16 + 2 + 4 * 9;
    if (column == std::string::npos) column = at;
    ASSERT_GE(line.size(), at) << line;
    EXPECT_EQ(line[at - 1], ' ') << line;
  }
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}
std::uint64_t U64(const std::string& bytes, std::size_t at) {
  std::uint64_t value;
  std::memcpy(&value, bytes.data() + at, 8);
  return value;
}

// Stream type -> (rva, size), checked to lie inside the file.
std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t> > Streams(const std::string& dump) {
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t> > streams;
  const std::uint32_t count = U32(dump, 8);
  const std::uint32_t directory = U32(dump, 12);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = directory + 12 * i;
    const std::uint32_t size = U32(dump, entry + 4);
    const std::uint32_t rva = U32(dump, entry + 8);
    EXPECT_LE(std::uint64_t(rva) + size, dump.size());
    streams[U32(dump, entry)] = {rva, size};
  }
  return streams;
}

TEST_F(WorkerFaultTest, DumpCarriesThreadsModulesMemoryExceptionAndLinuxStreams) {
  const std::string dump = ReadAll(File("CRASH.DMP"));
  ASSERT_GE(dump.size(), 32u);
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  EXPECT_EQ(U32(dump, 4) & 0xffff, 0xA793u);
  auto streams = Streams(dump);
  for (std::uint32_t type : {3u, 4u, 5u, 6u, 7u, 0x47670003u, 0x47670004u, 0x47670008u, 0x47670009u}) {
    EXPECT_TRUE(streams.count(type)) << std::hex << type;
  }
  const std::uint32_t system = streams[7].first;
  EXPECT_EQ(dump[system] | (dump[system + 1] << 8), 9);  // AMD64
  EXPECT_EQ(U32(dump, system + 20), 0x8201u);            // Linux

  const std::uint32_t threads = streams[3].first;
  const std::uint32_t threadCount = U32(dump, threads);
  EXPECT_GE(threadCount, 2u) << "the main thread and the faulting worker";
  const std::uint32_t exception = streams[6].first;
  const std::uint32_t faultingThread = U32(dump, exception);
  EXPECT_EQ(U32(dump, exception + 8), std::uint32_t(SIGSEGV));
  EXPECT_EQ(U64(dump, exception + 24), 0u) << "the fault address";
  bool sawFaultingThread = false;
  for (std::uint32_t i = 0; i < threadCount; ++i) {
    const std::size_t thread = threads + 4 + 48 * i;
    const std::uint32_t contextRva = U32(dump, thread + 44);
    EXPECT_EQ(U32(dump, thread + 40), 1232u);
    EXPECT_EQ(U32(dump, contextRva + 0x30), 0x0010000Fu);
    EXPECT_GT(U32(dump, thread + 32), 0u) << "stack memory";
    EXPECT_GE(U64(dump, contextRva + 0x98), U64(dump, thread + 24))
        << "the stack starts below the stack pointer";
    if (U32(dump, thread) == faultingThread) sawFaultingThread = true;
  }
  EXPECT_TRUE(sawFaultingThread);

  const std::uint32_t modules = streams[4].first;
  ASSERT_GE(U32(dump, modules), 2u);
  const std::uint32_t codeView = U32(dump, modules + 4 + 80);
  EXPECT_EQ(dump.substr(codeView, 4), "LEpB");
  EXPECT_EQ(U32(dump, modules + 4 + 76), 4u + 20u) << "a 20-byte GNU build id";
  // The second dump of the same crash still sees the threads the first froze.
  const std::string unhandled = ReadAll(File("Ombrix-40040.dmp"));
  ASSERT_GE(unhandled.size(), 32u);
  auto unhandledStreams = Streams(unhandled);
  ASSERT_TRUE(unhandledStreams.count(3));
  EXPECT_EQ(U32(unhandled, unhandledStreams[3].first), threadCount);
  const std::string maps = dump.substr(streams[0x47670009].first, streams[0x47670009].second);
  EXPECT_NE(maps.find(OS::ToUtf8(OS::Current().ExecutablePath())), std::string::npos);
}

// The debugger check: lldb opens both dumps of the crash with this program,
// lists every thread and shows the faulting thread's frames down to the
// function that faulted, with its source line.
TEST_F(WorkerFaultTest, LldbShowsThreadsAndTheFaultingFunction) {
  std::string lldb;
  if (!OS::Current().FindProgram("lldb", lldb)) {
    GTEST_SKIP()
        << "lldb is not installed (Debian package lldb); the dump cannot be opened in a debugger here";
  }
  const std::string program = OS::ToUtf8(OS::Current().ExecutablePath());
  for (const char* name : {"CRASH.DMP", "Ombrix-40040.dmp"}) {
    SCOPED_TRACE(name);
    const fs::path output = s_folder->Path() / (std::string(name) + ".lldb.txt");
    const std::string command = "'" + lldb + "' --batch -o \"target create --core '" + File(name).string() +
                                "' '" + program + "'\" -o \"thread list\" -o \"bt\" > '" + output.string() +
                                "' 2>&1 < /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadAll(output);
    const std::string text = ReadAll(output);
    // Every thread of the dump is listed (lldb numbers them from 1).
    const std::string dump = ReadAll(File(name));
    auto streams = Streams(dump);
    const std::uint32_t threadCount = U32(dump, streams[3].first);
    EXPECT_NE(text.find("thread #" + std::to_string(threadCount) + ":"), std::string::npos) << text;
    EXPECT_EQ(text.find("thread #" + std::to_string(threadCount + 1) + ":"), std::string::npos) << text;
    EXPECT_NE(text.find("stop reason = signal SIGSEGV"), std::string::npos) << text;
    // The backtrace starts in the faulting function, named with its file.
    const std::size_t backtrace = text.find("(lldb) bt");
    ASSERT_NE(backtrace, std::string::npos) << text;
    const std::size_t frameZero = text.find("frame #0:", backtrace);
    ASSERT_NE(frameZero, std::string::npos) << text;
    const std::string firstFrame = text.substr(frameZero, text.find('\n', frameZero) - frameZero);
    EXPECT_NE(firstFrame.find("CrashingWorkerReadsAddressZero"), std::string::npos) << text;
    EXPECT_NE(firstFrame.find("crash_report_test.cpp:"), std::string::npos) << text;
  }
}

TEST(CrashReportTest, WriteFaultIsReportedAsWrite) {
  CrashFolder folder;
  EXPECT_EQ(RunChild(folder, [] { CrashInWorker(CrashingWorkerWritesAddressSixteen); }), 255);
  EXPECT_NE(
      ReadAll(folder.Path() / "ERRORLOG.TXT").find("Write to location 00000010 caused an access violation."),
      std::string::npos);
}

TEST(CrashReportTest, MainThreadFaultWritesOnlyTheUnhandledDump) {
  CrashFolder folder;
  EXPECT_EQ(RunChild(folder,
                     [] {
                       Vek::InstallCrashHandlers(1);
                       CrashingWorkerReadsAddressZero();
                     }),
            255);
  EXPECT_FALSE(fs::exists(folder.Path() / "ERRORLOG.TXT"));
  EXPECT_TRUE(fs::exists(folder.Path() / "Ombrix-40040.dmp"));
}

TEST(CrashReportTest, FaultInsideTheHandlerEndsTheProcessInsteadOfLooping) {
  CrashFolder folder;
  EXPECT_EQ(RunChild(folder,
                     [] {
                       OS::Current().InstallFatalSignalHandler(
                           [](const OS::FatalFault&) { CrashingWorkerReadsAddressZero(); });
                       ::alarm(20);  // a hang would end with SIGALRM instead of the expected status
                       CrashingWorkerReadsAddressZero();
                     }),
            255);
}

TEST(CrashReportTest, ExitTrapTurnsAnUnplannedExitIntoADumpAndDisarmingKeepsItQuiet) {
  CrashFolder trapped;
  EXPECT_EQ(RunChild(trapped,
                     [] {
                       Vek::InstallCrashHandlers(1);
                       std::exit(0);
                     }),
            255);
  EXPECT_TRUE(fs::exists(trapped.Path() / "Ombrix-40040.dmp"));
  CrashFolder normal;
  EXPECT_EQ(RunChild(normal,
                     [] {
                       Vek::InstallCrashHandlers(1);
                       Vek::DisarmExitTrap();
                       std::exit(0);
                     }),
            0);
  EXPECT_TRUE(fs::is_empty(normal.Path())) << "a normal run writes no dump";
}

TEST(CrashReportTest, DumpNameTakesTheFirstFreeNumberedVariant) {
  CrashFolder folder;
  const fs::path base = folder.Path();
  char path[1024];
  const std::string subfolder = base.string();
  ASSERT_TRUE(Vek::MakeDumpFilePath("Ombrix-40040.dmp", subfolder.c_str(), path, sizeof(path)));
  EXPECT_EQ(fs::path(path), base / "Ombrix-40040.dmp");
  std::ofstream(base / "Ombrix-40040.dmp") << "x";
  ASSERT_TRUE(Vek::MakeDumpFilePath("Ombrix-40040.dmp", subfolder.c_str(), path, sizeof(path)));
  EXPECT_EQ(fs::path(path), base / "Ombrix-40040_2.dmp");
  std::ofstream(base / "Ombrix-40040_2.dmp") << "x";
  ASSERT_TRUE(Vek::MakeDumpFilePath("Ombrix-40040.dmp", subfolder.c_str(), path, sizeof(path)));
  EXPECT_EQ(fs::path(path), base / "Ombrix-40040_3.dmp");
  EXPECT_FALSE(Vek::MakeDumpFilePath("Ombrix-40040.dmp", subfolder.c_str(), path, 8))
      << "too long for the buffer";
}

TEST(CrashReportTest, ReportTimeIsLocalWithEvenSeconds) {
  char text[40];
  Vek::FormatReportTime(1709622489, 0, text, sizeof(text));  // 2024-03-05 07:08:09 UTC
  EXPECT_STREQ(text, "3/5/2024 07:08:08");
  Vek::FormatReportTime(1709622489, -8 * 3600, text, sizeof(text));
  EXPECT_STREQ(text, "3/4/2024 23:08:08");
}

TEST(CrashReportTest, SignalsMapToTheExceptionDescriptions) {
  OS::FatalFault fault;
  fault.signalNumber = SIGFPE;
  fault.signalCode = FPE_INTDIV;
  EXPECT_STREQ(Vek::ExceptionDescription(Vek::ExceptionCodeOf(fault)), "an Integer Divide by Zero");
  fault.signalNumber = SIGILL;
  fault.signalCode = ILL_ILLOPC;
  EXPECT_STREQ(Vek::ExceptionDescription(Vek::ExceptionCodeOf(fault)), "an Illegal Instruction");
  fault.signalNumber = SIGABRT;
  EXPECT_STREQ(Vek::ExceptionDescription(Vek::ExceptionCodeOf(fault)), "an Unknown exception type");
}

}  // namespace

#endif  // _WIN32
