#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RepairTestSupport.h"
#include "repair/FileTreeSummary.h"
#include "repair/SegmentKey.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using NolkPatch::FileTreeSummary;

// Writer threads register and remove segments while another thread saves
// and scans, as the repair client's threads do. Every saved stream must be
// complete and loadable, and the end state must hold what the writers left.
TEST(SummaryConcurrencyTest, WritersAndSaversShareTheSummary) {
  RepairTest::Installation install;
  ASSERT_TRUE(install.Valid());
  constexpr int kWriters = 4;
  constexpr int kFilesPerWriter = 25;
  for (int w = 0; w < kWriters; ++w) {
    for (int f = 0; f < kFilesPerWriter; ++f) {
      install.Write(RepairTest::Cat("w", std::to_string(w), "/f", std::to_string(f)),
                    RepairTest::Cat("content ", std::to_string(f)));
    }
  }
  FileTreeSummary summary;
  std::atomic<bool> writing{true};
  std::atomic<int> badStreams{0};

  std::thread saver([&] {
    while (writing) {
      NolkDataBufferMemoryDynamic buffer;
      if (summary.Save(buffer) != NOLKRESULT_OK) ++badStreams;
      buffer.SetPosition(0);
      FileTreeSummary copy;
      if (copy.Load(buffer) != NOLKRESULT_OK || buffer.GetPosition() != buffer.GetSize()) ++badStreams;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int round = 0; round < 4; ++round) {
        for (int f = 0; f < kFilesPerWriter; ++f) {
          const std::wstring relative = L"w" + std::to_wstring(w) + L"\\f" + std::to_wstring(f);
          const std::wstring local = install.Wide(L"w" + std::to_wstring(w) + L"/f" + std::to_wstring(f));
          summary.RegisterSegment(NolkUtil::MakeSegmentKey(local, 0), NolkUtil::MakeSegmentKey(relative, 0),
                                  static_cast<std::uint32_t>(100 + f));
          if (round == 3 && f % 2 == 1) summary.RemoveSegment(NolkUtil::MakeSegmentKey(relative, 0));
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  writing = false;
  saver.join();

  EXPECT_EQ(badStreams.load(), 0);
  EXPECT_EQ(summary.Count(), static_cast<std::size_t>(kWriters * (kFilesPerWriter / 2 + 1)));
  NolkPatch::SegmentEntry entry;
  ASSERT_TRUE(summary.Find(L"w2\\f4#000", entry));
  EXPECT_EQ(entry.checksum, 104u);
}

}  // namespace
