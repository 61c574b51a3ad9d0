// The crash calls of the win32 backend: safe memory reads, stacks, modules,
// symbols and minidumps through DbgHelp.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "KernelStandard/CrashReport.h"
#include "KernelStandard/platform/LocalTime.h"
#include "tests/KernelStandard/win32_test_support.h"

namespace {

TEST(Win32Crash, MemoryReadsFailCleanlyOnUnmappedAddresses) {
  const char text[] = "readable";
  char copy[sizeof(text)] = {};
  EXPECT_TRUE(OS::Current().ReadMemorySafely(reinterpret_cast<std::uintptr_t>(text), copy, sizeof(text)));
  EXPECT_STREQ(copy, "readable");
  EXPECT_FALSE(OS::Current().ReadMemorySafely(16, copy, sizeof(copy)));
  const std::uintptr_t local = reinterpret_cast<std::uintptr_t>(&copy);
  const std::uintptr_t base = OS::Current().StackBase(local);
  EXPECT_GT(base, local);
  EXPECT_LT(base - local, 64u * 1024 * 1024);
}

TEST(Win32Crash, ModulesAreListedInAddressOrderWithTheProgramAmongThem) {
  OS::LoadedModule modules[256];
  const std::size_t count = OS::Current().LoadedModules(modules, 256);
  ASSERT_GT(count, 1u);
  const std::string program = OS::ToUtf8(OS::Current().ExecutablePath());
  bool programFound = false;
  for (std::size_t i = 0; i < count && i < 256; ++i) {
    if (i > 0) {
      EXPECT_LT(modules[i - 1].base, modules[i].base);
    }
    if (_stricmp(modules[i].path, program.c_str()) == 0) {
      programFound = true;
      EXPECT_GT(modules[i].fileSize, 0u);
      EXPECT_GT(modules[i].size, 0u);
    }
  }
  EXPECT_TRUE(programFound) << program;
  OS::SystemDescription system;
  ASSERT_TRUE(OS::Current().DescribeSystem(system));
  EXPECT_STREQ(system.systemName, "Windows");
  EXPECT_TRUE(system.processorType == 386 || system.processorType == 8664);
  EXPECT_GT(system.physicalTotal, 0u);
  EXPECT_GT(system.processorCount, 0u);
}

__attribute__((noinline)) std::size_t CaptureHere(std::uintptr_t* frames, std::size_t capacity) {
  const std::size_t count = OS::Current().CaptureCallStack(frames, capacity);
  // Code after the call, so that it is not made a jump that leaves no frame
  // of CaptureHere on the stack.
  __asm__ volatile("" ::: "memory");
  return count;
}

TEST(Win32Crash, CallStacksStartInTheCallerAndResolveToItsModule) {
  std::uintptr_t frames[32] = {};
  const std::size_t count = CaptureHere(frames, 32);
  ASSERT_GE(count, 2u);
  auto lookup = OS::Current().OpenSymbolLookup();
  ASSERT_NE(lookup, nullptr);
  OS::CodeLocation location;
  ASSERT_TRUE(lookup->Describe(frames[0], true, location));
  EXPECT_EQ(_stricmp(location.module, OS::ToUtf8(OS::Current().ExecutablePath()).c_str()), 0)
      << location.module;
  // The innermost frame lies in CaptureHere (when DbgHelp reads the
  // program's symbols).
  if (location.symbol[0] != '\0') {
    EXPECT_NE(std::strstr(location.symbol, "CaptureHere"), nullptr) << location.symbol;
  }
}

TEST(Win32Crash, AMinidumpOfAFaultCarriesTheExceptionAndTheRegisters) {
  Win32Test::TempFolder folder;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Eip);
  EXCEPTION_POINTERS pointers{&record, &context};
  OS::FatalFault fault;
  fault.signalNumber = static_cast<int>(EXCEPTION_ACCESS_VIOLATION);
  fault.threadId = ::GetCurrentThreadId();
  fault.context = &pointers;

  char registers[1024];
  const std::size_t length = OS::Current().FormatFaultRegisters(fault, registers, sizeof(registers));
  ASSERT_GT(length, 0u);
  EXPECT_NE(std::strstr(registers, "EIP:"), nullptr) << registers;
  EXPECT_EQ(std::string(registers + length - 2), "\r\n");

  const std::string dump = OS::ToUtf8(folder.Path(L"Ombrix-40040.dmp"));
  ASSERT_TRUE(OS::Current().WriteMinidump(dump.c_str(), fault));
  EXPECT_TRUE(OS::Current().NativePathExists(dump.c_str()));
  const std::string bytes = Win32Test::ReadWholeFile(OS::FromUtf8(dump));
  ASSERT_GT(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(0, 4), "MDMP");
}

TEST(Win32Crash, CrashFilesAreWrittenPieceByPiece) {
  Win32Test::TempFolder folder;
  const std::string path = OS::ToUtf8(folder.Path(L"ERRORLOG.TXT"));
  const int file = OS::Current().CreateCrashFile(path.c_str());
  ASSERT_NE(file, -1);
  EXPECT_TRUE(OS::Current().AppendCrashFile(file, "first ", 6));
  EXPECT_TRUE(OS::Current().AppendCrashFile(file, "second", 6));
  OS::Current().CloseCrashFile(file);
  EXPECT_EQ(Win32Test::ReadWholeFile(OS::FromUtf8(path)), "first second");
  ASSERT_TRUE(OS::Current().WriteCrashFile(path.c_str(), "again", 5));
  EXPECT_EQ(Win32Test::ReadWholeFile(OS::FromUtf8(path)), "again");
}

// A real fault in a worker thread of a program with the crash handlers
// installed: this test program again, run with a variable that turns the
// helper below into the crashing program.
constexpr char kCrashChildVariable[] = "KORVEL_WIN32_CRASH_FOLDER";
volatile std::uintptr_t g_addressZero = 0;

__attribute__((noinline)) void WorkerReadsAddressZero() {
  std::printf("%d\n", *reinterpret_cast<volatile int*>(g_addressZero));
}

TEST(Win32CrashChild, HelperProcess) {
  const char* folder = std::getenv(kCrashChildVariable);
  if (folder == nullptr) GTEST_SKIP() << "runs only as the crashing program of Win32CrashReport";
  if (!::SetCurrentDirectoryW(OS::FromUtf8(folder).c_str())) std::_Exit(3);
  Vek::InstallCrashHandlers(1);
  std::thread(WorkerReadsAddressZero).join();
  std::_Exit(4);
}

TEST(Win32CrashReport, AWorkerFaultEndsTheProgramWithTheReportAndTheDumps) {
  Win32Test::TempFolder folder;
  const std::string where = OS::ToUtf8(folder.Path());
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVEL_WIN32_CRASH_FOLDER", folder.Path().c_str()));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TEMP", folder.Path().c_str()));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVEL_XCRASH_RECORD", folder.Path(L"reporter.txt").c_str()));
  OS::SpawnedProcess child;
  const bool started = OS::Current().SpawnWithPipe(
      {OS::ToUtf8(OS::Current().ExecutablePath()), "--gtest_filter=Win32CrashChild.HelperProcess"}, child);
  ::SetEnvironmentVariableW(L"KORVEL_WIN32_CRASH_FOLDER", nullptr);
  ::SetEnvironmentVariableW(L"KORVEL_XCRASH_RECORD", nullptr);
  ASSERT_TRUE(started);
  char buffer[4096];
  while (OS::Current().ReadPipe(child.outputFd, buffer, sizeof(buffer)) > 0) {
  }
  OS::Current().ClosePipe(child.outputFd);
  int exitCode = -1;
  ASSERT_TRUE(OS::Current().WaitProcess(child.pid, 120000, exitCode));
  EXPECT_EQ(exitCode, 255);

  const std::string report = Win32Test::ReadWholeFile(folder.Path(L"ERRORLOG.TXT"));
  EXPECT_NE(report.find("caused an Access Violation (0xc0000005)"), std::string::npos)
      << report.substr(0, 300);
  EXPECT_NE(report.find("Read from location 00000000 caused an access violation."), std::string::npos);
  EXPECT_NE(report.find("EIP:"), std::string::npos);
  EXPECT_TRUE(report.ends_with("\r\n===== [end of ERRORLOG.TXT] =====\r\n")) << report.size();
  for (const wchar_t* dump : {L"CRASH.DMP", L"Ombrix-40040.dmp"}) {
    const std::string bytes = Win32Test::ReadWholeFile(folder.Path(dump));
    ASSERT_GT(bytes.size(), 32u) << OS::ToUtf8(dump);
    EXPECT_EQ(bytes.substr(0, 4), "MDMP") << OS::ToUtf8(dump);
  }
}

TEST(Win32LocalTime, TheOffsetMatchesTheSystemsZone) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ASSERT_TRUE(OS::LocalTime(now, local));
  TIME_ZONE_INFORMATION zone;
  const DWORD kind = ::GetTimeZoneInformation(&zone);
  long bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  EXPECT_EQ(OS::LocalZoneOffsetSeconds(now), -static_cast<std::int64_t>(bias) * 60);
}

}  // namespace

#endif  // _WIN32
