// The process-wide allocation tracker behind the global operators: every
// operator form is recorded and released through it, and whole programs
// (the probe) get the leak report at exit, unknown releases and the
// guard-page modes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "KernelStandard/alloc/AllocationTracker.h"
#include "KernelStandard/linux_only.h"
#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform_test_support.h"

namespace {

using PlatformTest::ScopedVariable;
using PlatformTest::TempFolder;
using Vek::AllocationTracker;

AllocationTracker& Tracker() {
  AllocationTracker* tracker = AllocationTracker::Global();
  if (tracker == nullptr) std::abort();
  return *tracker;
}

struct alignas(64) Wide {
  char bytes[64];
};

TEST(AllocationOperatorsTest, EveryOperatorFormGoesThroughTheTracker) {
  AllocationTracker& tracker = Tracker();
  const std::size_t unknownBefore = tracker.UnknownFrees();

  int* single = new int(5);
  char* array = new char[100];
  Wide* aligned = new Wide;
  Wide* alignedArray = new Wide[3];
  int* quiet = new (std::nothrow) int(6);
  char* quietArray = new (std::nothrow) char[10];
  void* raw = ::operator new (33, std::align_val_t{128});
  for (const void* block :
       {static_cast<const void*>(single), static_cast<const void*>(array), static_cast<const void*>(aligned),
        static_cast<const void*>(alignedArray), static_cast<const void*>(quiet),
        static_cast<const void*>(quietArray), static_cast<const void*>(raw)}) {
    EXPECT_TRUE(tracker.IsTracked(block));
  }
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(raw) % 128, 0u);

  delete single;
  delete[] array;
  delete aligned;
  delete[] alignedArray;
  delete quiet;
  delete[] quietArray;
  ::operator delete (raw, 33, std::align_val_t{128});
  EXPECT_FALSE(tracker.IsTracked(single));
  EXPECT_FALSE(tracker.IsTracked(aligned));
  EXPECT_FALSE(tracker.IsTracked(raw));
  EXPECT_EQ(tracker.UnknownFrees(), unknownBefore);
}

TEST(AllocationOperatorsTest, ContainersAndStringsAreTrackedAndReleased) {
  AllocationTracker& tracker = Tracker();
  const std::size_t liveBefore = tracker.LiveBlocks();
  {
    std::vector<std::string> texts;
    for (int i = 0; i < 1000; ++i) texts.push_back(std::string(40, static_cast<char>('a' + i % 26)));
    EXPECT_GE(tracker.LiveBlocks(), liveBefore + 1000);
  }
  EXPECT_EQ(tracker.LiveBlocks(), liveBefore);
}

TEST(AllocationOperatorsTest, TheTrackersOwnAllocationsAreNotRecorded) {
  AllocationTracker& tracker = Tracker();
  struct Seen {
    std::size_t lines = 0;
    std::size_t copiedBytes = 0;
  } seen;
  // The callback runs inside the tracker, as the report's own symbol
  // look-ups do; neither its strings nor the look-ups leave records.
  tracker.SetOutputCallback(
      [](const char* line, void* context) {
        auto& self = *static_cast<Seen*>(context);
        const std::string copy = std::string(line) + std::string(100, '.');
        self.copiedBytes += copy.size();
        ++self.lines;
      },
      &seen);
  int* leaked = new int(1);
  const std::size_t liveBefore = tracker.LiveBlocks();
  const std::size_t unknownBefore = tracker.UnknownFrees();
  tracker.ReportLeaks();
  tracker.SetOutputCallback(nullptr, nullptr);
  EXPECT_GT(seen.lines, 3u);
  EXPECT_EQ(tracker.LiveBlocks(), liveBefore);
  EXPECT_EQ(tracker.UnknownFrees(), unknownBefore);
  delete leaked;
}

// How a process that faulted on a guard page ends: SIGSEGV, or on Windows
// the access violation's exception code.
#ifdef _WIN32
constexpr int kFaultExitCode = static_cast<int>(0xC0000005u);
#else
constexpr int kFaultExitCode = 128 + SIGSEGV;
#endif

// A run of the probe program.
struct ProbeRun {
  int exitCode = -1;
  std::string output;       // standard output and error
  std::string debugOutput;  // what reached the debugger output
  int site = 0;             // the line the probe named

  bool Has(const std::string& text) const { return debugOutput.find(text) != std::string::npos; }
};

ProbeRun RunProgram(const std::vector<std::string>& argv, std::optional<std::string> guard = std::nullopt,
                    std::optional<std::string> tracking = std::nullopt) {
  TempFolder folder;
  ScopedVariable debugFile("KORVEL_DEBUG_OUTPUT", folder.Native("debugger.txt"));
  ScopedVariable guardMode("KORVEL_ALLOC_GUARD", guard);
  ScopedVariable trackingMode("KORVEL_ALLOC_TRACKING", tracking);
  ProbeRun run;
  OS::Platform& platform = OS::Current();
  OS::SpawnedProcess child;
  if (!platform.SpawnWithPipe(argv, child)) return run;
  char buffer[4096];
  long got = 0;
  while ((got = platform.ReadPipe(child.outputFd, buffer, sizeof buffer)) > 0) run.output.append(buffer, got);
  platform.ClosePipe(child.outputFd);
  platform.WaitProcess(child.pid, 30000, run.exitCode);
  run.debugOutput = PlatformTest::ReadText(folder.Native("debugger.txt"));
#ifdef _WIN32
  // The C runtime's text mode ends the probe's lines with CR LF.
  std::erase(run.output, '\r');
#endif
  const std::size_t site = run.output.find("site ");
  if (site != std::string::npos) run.site = std::atoi(run.output.c_str() + site + 5);
  return run;
}

ProbeRun RunProbe(const std::string& mode, std::optional<std::string> guard = std::nullopt,
                  std::optional<std::string> tracking = std::nullopt) {
  return RunProgram({KORVEL_ALLOC_PROBE, mode}, guard, tracking);
}

TEST(AllocationTrackerProgramTest, LeaksAreReportedAtExitGroupedBySite) {
  const ProbeRun run = RunProbe("leaks");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_GT(run.site, 0) << run.output;
  EXPECT_TRUE(run.Has("\n\n>>>>>>>>>> DEBUG ALLOCATION >>>>>>>>>>\n\n")) << run.debugOutput;
  const std::string site =
      "alloc_probe.cpp(" + std::to_string(run.site) + "): 3 memory blocks of size 24 were never freed";
  EXPECT_TRUE(run.Has(site)) << run.debugOutput;
  EXPECT_TRUE(run.Has("): Called from.\n")) << run.debugOutput;
  EXPECT_TRUE(run.Has("\n\nA total of 3 leaks at 1 location.\n")) << run.debugOutput;
}

TEST(AllocationTrackerProgramTest, AProgramThatReleasesEverythingReportsNoLeak) {
  const ProbeRun run = RunProbe("clean");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.Has("A total of 0 leaks at 0 locations.")) << run.debugOutput;
  EXPECT_FALSE(run.Has("unknown memory block")) << run.debugOutput;
}

TEST(AllocationTrackerProgramTest, ABlockFromBeforeTheTrackerIsAnUnknownRelease) {
  KORVEL_LINUX_ONLY("the probe allocates before every initialiser through ELF's .preinit_array");
  const ProbeRun run = RunProbe("unknown");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string line =
      "alloc_probe.cpp(" + std::to_string(run.site) + "): unknown memory block starting at 0x";
  EXPECT_TRUE(run.Has(line)) << run.debugOutput;
  EXPECT_TRUE(run.Has("A total of 0 leaks at 0 locations.")) << run.debugOutput;
}

TEST(AllocationTrackerProgramTest, TrackingSwitchedOffReportsNothing) {
  const ProbeRun run = RunProbe("leaks", std::nullopt, "off");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.debugOutput, "");
}

TEST(AllocationTrackerProgramTest, GuardPagesStopAnOverrunWithTheCallStack) {
  const ProbeRun behind = RunProbe("overrun", "behind");
  EXPECT_EQ(behind.exitCode, kFaultExitCode) << behind.output;
  EXPECT_NE(behind.output.find("Memory bound was overwritten"), std::string::npos) << behind.output;
  EXPECT_NE(behind.output.find("\nCall stack:\n"), std::string::npos) << behind.output;
  EXPECT_NE(behind.output.find("WriteOnePastTheEnd"), std::string::npos) << behind.output;
  EXPECT_TRUE(behind.Has("Memory bound was overwritten")) << behind.debugOutput;

  const ProbeRun front = RunProbe("underrun", "front");
  EXPECT_EQ(front.exitCode, kFaultExitCode) << front.output;
  EXPECT_NE(front.output.find("WriteOneBeforeTheStart"), std::string::npos) << front.output;

  // Guard pages are off unless asked for: the same probe runs on (the byte
  // lands in the heap block's slack).
  const ProbeRun unguarded = RunProbe("overrun", std::nullopt);
  EXPECT_EQ(unguarded.exitCode, 0) << unguarded.output;
}

TEST(AllocationTrackerProgramTest, TheConsolePatcherReportsAtExit) {
  const ProbeRun run = RunProgram({KORVEL_PATCHER_CLI, "--help"});
  EXPECT_TRUE(run.Has("\n\n>>>>>>>>>> DEBUG ALLOCATION >>>>>>>>>>\n\n")) << run.output << run.debugOutput;
  EXPECT_TRUE(run.Has("\n\nA total of ")) << run.debugOutput;
}

}  // namespace
