// The allocation tracker on instances of its own (the global operators of
// the programs are tested in alloc/): recording, the leak report grouped by
// site, unknown releases, the owner rule, guard pages and the run-time map.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KernelStandard/alloc/AllocationTracker.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Memory.h"

namespace {

using Vek::AllocationTracker;

// Stands in for an allocation operator: the tracker leaves out the frames
// of Allocate and of its caller, so the site is the caller of TrackedNew.
__attribute__((noinline)) void* TrackedNew(AllocationTracker& tracker, std::size_t size,
                                           std::size_t alignment = 0) {
  void* block = tracker.Allocate(size, alignment);
  asm volatile("" : : "r"(block) : "memory");
  return block;
}

__attribute__((noinline)) void TrackedDelete(AllocationTracker& tracker, void* block) {
  tracker.Free(block);
  asm volatile("" : : "r"(block) : "memory");
}

// The report lines a tracker sends to its output callback.
struct ReportLines {
  std::string text;
  std::vector<std::string> lines;

  static void Collect(const char* line, void* context) {
    auto& self = *static_cast<ReportLines*>(context);
    self.text += line;
    self.lines.emplace_back(line);
  }
  // The first line that ends with `part`, or npos.
  std::size_t LineEndingWith(const std::string& part) const {
    for (std::size_t index = 0; index < lines.size(); ++index) {
      const std::string& line = lines[index];
      if (line.size() >= part.size() && line.compare(line.size() - part.size(), part.size(), part) == 0) {
        return index;
      }
    }
    return std::string::npos;
  }
  std::size_t CountContaining(const std::string& part) const {
    std::size_t count = 0;
    for (const std::string& line : lines) count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
  }
};

// The site as the report names it: the source file's full path, then the
// line. The file name with its folder is enough to tell it is this one.
std::string OwnFileLine(int line) {
#ifdef _WIN32
  const char* file = "\\KernelStandard\\alloc_tracker_test.cpp(";  // DbgHelp gives Windows paths
#else
  const char* file = "/KernelStandard/alloc_tracker_test.cpp(";
#endif
  return std::string(file) + std::to_string(line) + ")";
}

int g_threeBlocksLine = 0;

__attribute__((noinline)) std::vector<void*> LeakThreeBlocks(AllocationTracker& tracker) {
  std::vector<void*> blocks;
  for (int i = 0; i < 3; ++i) {
    g_threeBlocksLine = __LINE__ + 1;
    blocks.push_back(TrackedNew(tracker, 24));
  }
  return blocks;
}

int g_singleBlockLine = 0;

__attribute__((noinline)) void* LeakOneBlock(AllocationTracker& tracker) {
  g_singleBlockLine = __LINE__ + 1;
  void* block = TrackedNew(tracker, 40);
  // Code after the call, so that the call keeps its own return address.
  __asm__ volatile("" ::: "memory");
  return block;
}

TEST(AllocationTrackerTest, ThreeBlocksFromOneSiteFormOneGroupWithCalledFromLines) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  const std::vector<void*> blocks = LeakThreeBlocks(tracker);
  void* single = LeakOneBlock(tracker);
  ASSERT_EQ(tracker.LiveBlocks(), 4u);

  tracker.ReportLeaks();
  EXPECT_NE(report.text.find("\n\n>>>>>>>>>> DEBUG ALLOCATION >>>>>>>>>>\n\n"), std::string::npos);
  const std::string thread = "(thread id " + std::to_string(OS::CurrentThreadNumber()) + ")";
  const std::string group =
      OwnFileLine(g_threeBlocksLine) + ": 3 memory blocks of size 24 were never freed " + thread + ".\n";
  ASSERT_EQ(report.CountContaining(group), 1u) << report.text;
  EXPECT_EQ(report.CountContaining(OwnFileLine(g_singleBlockLine) +
                                   ": 1 memory block of size 40 was never freed " + thread + ".\n"),
            1u)
      << report.text;
  // The group line is followed by the frames above the site: the test body
  // that called LeakThreeBlocks comes first.
  const std::size_t groupIndex = report.LineEndingWith(group);
  ASSERT_LT(groupIndex + 1, report.lines.size());
#ifdef _WIN32
  EXPECT_EQ(report.lines[groupIndex].substr(1, 2), ":\\") << report.lines[groupIndex];
#else
  EXPECT_EQ(report.lines[groupIndex][0], '/') << report.lines[groupIndex];
#endif
  EXPECT_NE(report.lines[groupIndex + 1].find("alloc_tracker_test.cpp("), std::string::npos);
  EXPECT_NE(report.lines[groupIndex + 1].find("): Called from.\n"), std::string::npos);
  EXPECT_GE(report.CountContaining("): Called from.\n"), 2u);
  EXPECT_NE(report.text.find("\n\nA total of 4 leaks at 2 locations.\n"), std::string::npos) << report.text;
  EXPECT_EQ(report.text.find("RUN-TIME ALLOCATIONS"), std::string::npos);

  for (void* block : blocks) TrackedDelete(tracker, block);
  TrackedDelete(tracker, single);
  EXPECT_EQ(tracker.LiveBlocks(), 0u);
  EXPECT_EQ(tracker.UnknownFrees(), 0u);

  report = ReportLines();
  tracker.ReportLeaks();
  EXPECT_NE(report.text.find("A total of 0 leaks at 0 locations."), std::string::npos) << report.text;
}

// Objects kept for the whole run are tracked (their release is a known
// one) but are no leaks; the mark ends with the scope and is the thread's
// own.
TEST(AllocationTrackerTest, BlocksMadeForTheWholeRunAreLeftOutOfTheReport) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  void* kept = nullptr;
  void* otherThread = nullptr;
  {
    Vek::ProcessLifetimeScope scope;
    kept = TrackedNew(tracker, 48);
    std::thread([&] { otherThread = TrackedNew(tracker, 24); }).join();
  }
  void* leaked = TrackedNew(tracker, 32);
  EXPECT_EQ(tracker.LiveBlocks(), 3u);

  tracker.ReportLeaks();
  EXPECT_EQ(report.CountContaining("of size 48"), 0u) << report.text;
  EXPECT_EQ(report.CountContaining("1 memory block of size 24 was never freed"), 1u) << report.text;
  EXPECT_EQ(report.CountContaining("1 memory block of size 32 was never freed"), 1u) << report.text;
  EXPECT_NE(report.text.find("A total of 2 leaks at 2 locations."), std::string::npos) << report.text;

  for (void* block : {kept, otherThread, leaked}) TrackedDelete(tracker, block);
  EXPECT_EQ(tracker.LiveBlocks(), 0u);
  EXPECT_EQ(tracker.UnknownFrees(), 0u);
}

TEST(AllocationTrackerTest, OneLeakAtOneLocationIsCountedInTheSingular) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  void* block = TrackedNew(tracker, 7);
  tracker.ReportLeaks();
  EXPECT_NE(report.text.find("A total of 1 leak at 1 location.\n"), std::string::npos) << report.text;
  TrackedDelete(tracker, block);
}

TEST(AllocationTrackerTest, BlocksOfOneSiteOnTwoThreadsFormTwoGroups) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  std::vector<void*> blocks[2];
  std::uint32_t threadIds[2] = {};
  // Both threads allocate and release many blocks at once, then each keeps
  // two from the same site.
  auto work = [&](int index) {
    threadIds[index] = OS::CurrentThreadNumber();
    for (int round = 0; round < 2000; ++round) {
      void* block = TrackedNew(tracker, 16 + round % 64);
      std::memset(block, index, 16);
      TrackedDelete(tracker, block);
    }
    for (int i = 0; i < 2; ++i) blocks[index].push_back(TrackedNew(tracker, 32));
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(tracker.LiveBlocks(), 4u);
  EXPECT_EQ(tracker.UnknownFrees(), 0u);

  tracker.ReportLeaks();
  for (const std::uint32_t id : threadIds) {
    EXPECT_EQ(report.CountContaining("2 memory blocks of size 32 were never freed (thread id " +
                                     std::to_string(id) + ")"),
              1u)
        << report.text;
  }
  EXPECT_NE(report.text.find("A total of 4 leaks at 2 locations."), std::string::npos) << report.text;
  for (auto& list : blocks) {
    for (void* block : list) TrackedDelete(tracker, block);
  }
}

TEST(AllocationTrackerTest, ReleasingABlockItNeverHandedOutIsReportedAndReleased) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  void* foreign = AllocationTracker::HeapAllocate(64, 0);
  const int freeLine = __LINE__ + 1;
  TrackedDelete(tracker, foreign);
  EXPECT_EQ(tracker.UnknownFrees(), 1u);
  char address[32];
  std::snprintf(address, sizeof(address), "%p", foreign);
  ASSERT_EQ(report.lines.size(), 1u) << report.text;
  EXPECT_EQ(report.LineEndingWith(OwnFileLine(freeLine) + ": unknown memory block starting at " + address +
                                  " freed.\n"),
            0u)
      << report.text;

  // A null block is no block at all.
  TrackedDelete(tracker, nullptr);
  EXPECT_EQ(tracker.UnknownFrees(), 1u);
  EXPECT_EQ(report.lines.size(), 1u);
}

// After the report at exit the shared libraries' finalisers release what
// they made before the tracker: still counted, no longer listed.
TEST(AllocationTrackerTest, UnknownReleasesAfterTheExitReportAreCountedNotListed) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  tracker.ReportLeaksAtExit();
  ASSERT_NE(report.text.find("A total of 0 leaks at 0 locations."), std::string::npos) << report.text;
  const std::size_t linesAfterReport = report.lines.size();
  TrackedDelete(tracker, AllocationTracker::HeapAllocate(64, 0));
  EXPECT_EQ(tracker.UnknownFrees(), 1u);
  EXPECT_EQ(report.lines.size(), linesAfterReport) << report.text;
}

TEST(AllocationTrackerTest, WhatTheTrackerAllocatesWhileInsideIsNotRecorded) {
  AllocationTracker tracker;
  struct Inside {
    AllocationTracker* tracker;
    void* block = nullptr;
    std::string lines;
  } inside{&tracker, nullptr, {}};
  // The report callback runs inside the tracker: a block it takes comes
  // from the heap without a record, just as the tracker's own would.
  tracker.SetOutputCallback(
      [](const char* line, void* context) {
        auto& self = *static_cast<Inside*>(context);
        self.lines += line;
        if (self.block == nullptr) self.block = TrackedNew(*self.tracker, 48);
        void* scratch = TrackedNew(*self.tracker, 200);
        TrackedDelete(*self.tracker, scratch);
      },
      &inside);
  void* leaked = TrackedNew(tracker, 24);
  tracker.ReportLeaks();
  ASSERT_NE(inside.block, nullptr);
  EXPECT_FALSE(tracker.IsTracked(inside.block));
  EXPECT_TRUE(tracker.IsTracked(leaked));
  EXPECT_EQ(tracker.LiveBlocks(), 1u);
  EXPECT_EQ(tracker.UnknownFrees(), 0u);
  EXPECT_NE(inside.lines.find("A total of 1 leak at 1 location."), std::string::npos) << inside.lines;

  tracker.SetOutputCallback(nullptr, nullptr);
  // Released from outside, the unrecorded block is one the tracker never
  // handed out.
  TrackedDelete(tracker, inside.block);
  EXPECT_EQ(tracker.UnknownFrees(), 1u);
  TrackedDelete(tracker, leaked);
  EXPECT_EQ(tracker.LiveBlocks(), 0u);
}

TEST(AllocationTrackerTest, ADisabledTrackerPassesBlocksThrough) {
  AllocationTracker tracker(false);
  EXPECT_EQ(tracker.Owner(), AllocationTracker::kNotConstructed);
  void* block = TrackedNew(tracker, 24);
  EXPECT_FALSE(tracker.IsTracked(block));
  TrackedDelete(tracker, block);
  EXPECT_EQ(tracker.UnknownFrees(), 0u);

  AllocationTracker enabled;
  EXPECT_EQ(enabled.Owner(), 0u);
}

TEST(AllocationTrackerTest, BlocksKeepTheirAlignmentInEveryMode) {
  for (const unsigned modes :
       {0u, unsigned{AllocationTracker::MODE_GUARD_PAGES},
        unsigned{AllocationTracker::MODE_GUARD_PAGES | AllocationTracker::MODE_GUARD_IN_FRONT}}) {
    AllocationTracker tracker;
    tracker.SetModes(modes);
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{24}, std::size_t{4096}, std::size_t{10000}}) {
      for (const std::size_t alignment : {std::size_t{0}, std::size_t{64}, std::size_t{256}}) {
        auto* block = static_cast<unsigned char*>(TrackedNew(tracker, size, alignment));
        ASSERT_NE(block, nullptr);
        const std::size_t expected = alignment == 0 ? 16 : alignment;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % expected, 0u) << modes << " " << size;
        std::memset(block, 0xA5, size);  // the whole block is writable
        EXPECT_TRUE(tracker.IsTracked(block));
        TrackedDelete(tracker, block);
      }
    }
    EXPECT_EQ(tracker.LiveBlocks(), 0u);
    EXPECT_EQ(tracker.UnknownFrees(), 0u);
  }
}

TEST(AllocationTrackerTest, AGuardPageBehindSitsRightAfterTheBlock) {
  AllocationTracker tracker;
  tracker.SetModes(AllocationTracker::MODE_GUARD_PAGES);
  const std::size_t page = OS::PageSize();
  for (const std::size_t size : {std::size_t{32}, std::size_t{24}, page, page + 16}) {
    auto* block = static_cast<unsigned char*>(TrackedNew(tracker, size));
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(block) + size;
    const std::uintptr_t guard = (end + page - 1) / page * page;
    // As close as the 16-byte alignment allows.
    EXPECT_LT(guard - end, 16u) << size;
    if (size % 16 == 0) {
      EXPECT_EQ(guard, end);
    }
    TrackedDelete(tracker, block);
  }
}

void OverrunBehind() {
  AllocationTracker tracker;
  tracker.SetModes(AllocationTracker::MODE_GUARD_PAGES);
  auto* block = static_cast<volatile unsigned char*>(TrackedNew(tracker, 32));
  block[31] = 1;
  block[32] = 1;  // the first byte of the guard page
}

void UnderrunInFront() {
  AllocationTracker tracker;
  tracker.SetModes(AllocationTracker::MODE_GUARD_PAGES | AllocationTracker::MODE_GUARD_IN_FRONT);
  auto* block = static_cast<volatile unsigned char*>(TrackedNew(tracker, 100));
  block[0] = 1;
  block[-1] = 1;
}

TEST(AllocationTrackerDeathTest, GuardPagesCatchOverrunAndUnderrun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(OverrunBehind(), "");
  EXPECT_DEATH(UnderrunInFront(), "");
}

TEST(AllocationTrackerTest, TheRunTimeMapKeepsBlocksAsItsFlagsSay) {
  AllocationTracker tracker;
  ReportLines report;
  tracker.SetOutputCallback(&ReportLines::Collect, &report);
  tracker.SetModes(AllocationTracker::MODE_KEEP_RUN_TIME);
  void* blocks[2];
  volatile int count = 2;  // a loop the compiler cannot unroll: one call site
  for (int i = 0; i < count; ++i) blocks[i] = TrackedNew(tracker, 24);
  void* kept = blocks[0];
  TrackedDelete(tracker, blocks[1]);
  EXPECT_EQ(tracker.LiveBlocks(), 1u);
  EXPECT_EQ(tracker.RunTimeBlocks(), 2u);  // releases leave the run-time records

  tracker.SetModes(AllocationTracker::MODE_KEEP_RUN_TIME | AllocationTracker::MODE_RUN_TIME_REMOVE_FREE);
  void* removed = TrackedNew(tracker, 200);  // not the released block's address again
  EXPECT_EQ(tracker.RunTimeBlocks(), 3u);
  TrackedDelete(tracker, removed);
  EXPECT_EQ(tracker.RunTimeBlocks(), 2u);

  tracker.ReportLeaks();
  const std::size_t heading = report.text.find("\n\n----------- RUN-TIME ALLOCATIONS ------------\n\n");
  ASSERT_NE(heading, std::string::npos) << report.text;
  EXPECT_LT(report.text.find("A total of 1 leak at 1 location."), heading);
  EXPECT_NE(report.text.find("2 memory blocks of size 24 were never freed", heading), std::string::npos)
      << report.text;
  TrackedDelete(tracker, kept);
}

}  // namespace
