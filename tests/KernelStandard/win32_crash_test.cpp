// The crash calls of the win32 backend: safe memory reads, stacks, modules,
// symbols and minidumps through DbgHelp.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>

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
  return OS::Current().CaptureCallStack(frames, capacity);
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
