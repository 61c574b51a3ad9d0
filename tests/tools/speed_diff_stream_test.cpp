// Applying a diff block by block: the result is the same as the whole-file
// decoder's for files smaller and larger than one block, damage found only
// at the end of the frame leaves nothing behind, and a refusing output or an
// old file that cannot be mapped gives the tool's own results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/MappedFile.h"
#include "tests/tools/DiffTestSupport.h"
#include "tools/diff/DiffFiles.h"
#include "tools/diff/ZstdDiff.h"

namespace {

using DiffTest::Bytes;
using KorvelTools::ApplyDiffFile;
using KorvelTools::ApplyDiffToSink;
using KorvelTools::ByteSpan;
using KorvelTools::DiffFileResult;
using KorvelTools::DiffResult;

class StreamedDiff : public DiffTest::ScratchFolder {
 protected:
  static std::wstring Wide(const std::string& path) { return OS::FromUtf8(path); }

  // Old and new files with a diff between them; returns the diff's path.
  std::string Prepare(const Bytes& oldData, const Bytes& newData) {
    Write("old", oldData);
    return Write("diff", KorvelTools::CreateDiff(oldData, newData));
  }
};

// The sizes straddle the decoder's output block (512 KiB), so the result
// arrives as zero, one and several blocks.
TEST_F(StreamedDiff, BlocksJoinToTheNewFileOfEverySize) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{512 * 1024},
                                 std::size_t{512 * 1024 + 1}, std::size_t{3 * 1024 * 1024 + 77}}) {
    const Bytes oldData = DiffTest::StructuredBytes(size + 4096, size);
    Bytes newData = DiffTest::Spliced(oldData, oldData.size() / 3, 100, DiffTest::RandomBytes(300, size));
    newData.resize(size);
    const Bytes diff = KorvelTools::CreateDiff(oldData, newData);
    Bytes joined;
    int blocks = 0;
    const DiffResult result =
        ApplyDiffToSink(oldData, KorvelTools::OldFileHash(oldData), diff, [&](ByteSpan block) {
          joined.insert(joined.end(), block.begin(), block.end());
          ++blocks;
          return true;
        });
    ASSERT_EQ(result, DiffResult::Ok) << size;
    EXPECT_EQ(joined, newData) << size;
    EXPECT_EQ(blocks, static_cast<int>((size + 512 * 1024 - 1) / (512 * 1024))) << size;
  }
}

TEST_F(StreamedDiff, RefusingSinkStopsWithOutputFailed) {
  const Bytes oldData = DiffTest::RandomBytes(2 * 1024 * 1024, 1);
  const Bytes newData = DiffTest::RandomBytes(2 * 1024 * 1024, 2);
  const Bytes diff = KorvelTools::CreateDiff(oldData, newData);
  int calls = 0;
  EXPECT_EQ(ApplyDiffToSink(oldData, KorvelTools::OldFileHash(oldData), diff,
                            [&](ByteSpan) { return ++calls < 2; }),
            DiffResult::OutputFailed);
  EXPECT_EQ(calls, 2);
}

// A damaged content checksum is only known once every block is written:
// the file must not appear, and no temporary may stay.
TEST_F(StreamedDiff, ChecksumDamageFoundAtTheEndLeavesNoFile) {
  const Bytes oldData = DiffTest::RandomBytes(1500 * 1024, 3);
  const Bytes newData = DiffTest::Spliced(oldData, 1000, 10, DiffTest::RandomBytes(2000, 4));
  Write("old", oldData);
  Bytes diff = KorvelTools::CreateDiff(oldData, newData);
  diff.back() ^= 0x55;  // the frame ends with the content checksum
  Write("diff", diff);
  EXPECT_EQ(ApplyDiffFile(Wide(PathOf("old")), Wide(PathOf("diff")), Wide(PathOf("new"))),
            DiffFileResult::Corrupt);
  EXPECT_EQ(Entries(), (std::set<std::string>{"old", "diff"}));
}

TEST_F(StreamedDiff, ExistingDestinationIsReplacedWhole) {
  const Bytes oldData = DiffTest::StructuredBytes(900 * 1024, 5);
  const Bytes newData = DiffTest::Spliced(oldData, 5000, 0, DiffTest::RandomBytes(70000, 6));
  Prepare(oldData, newData);
  Write("new", DiffTest::RandomBytes(5 * 1024 * 1024, 7));
  ASSERT_EQ(ApplyDiffFile(Wide(PathOf("old")), Wide(PathOf("diff")), Wide(PathOf("new"))),
            DiffFileResult::Ok);
  EXPECT_EQ(Read(PathOf("new")), newData);
}

TEST_F(StreamedDiff, FailuresOfTheOutputAndOfTheMappingAreReported) {
  const Bytes oldData = DiffTest::RandomBytes(1024 * 1024, 8);
  Prepare(oldData, DiffTest::RandomBytes(1024 * 1024, 9));
  {
    OS::ScopedFaults faults;
    OS::FaultRule rule;
    rule.operation = "WriteStream";
    rule.pathContains = "new.part";
    faults.Add(rule);
    EXPECT_EQ(ApplyDiffFile(Wide(PathOf("old")), Wide(PathOf("diff")), Wide(PathOf("new"))),
              DiffFileResult::OutputNotWritable);
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"old", "diff"}));
  {
    OS::ScopedFaults faults;
    OS::FaultRule rule;
    rule.operation = "MapFile";
    rule.pathContains = "old";
    faults.Add(rule);
    EXPECT_EQ(ApplyDiffFile(Wide(PathOf("old")), Wide(PathOf("diff")), Wide(PathOf("new"))),
              DiffFileResult::OldUnreadable);
  }
  EXPECT_EQ(ApplyDiffFile(Wide(m_folder.string()), Wide(PathOf("diff")), Wide(PathOf("new"))),
            DiffFileResult::OldUnreadable);
}

TEST_F(StreamedDiff, MappingShowsTheFileAndRefusesWhatIsNoFile) {
  const Bytes bytes = DiffTest::RandomBytes(70000, 10);
  Write("file", bytes);
  const auto mapped = OS::MapFileForReading(Wide(PathOf("file")));
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(Bytes(mapped->Data(), mapped->Data() + mapped->Size()), bytes);
  Write("empty", {});
  const auto empty = OS::MapFileForReading(Wide(PathOf("empty")));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Size(), 0u);
  EXPECT_EQ(OS::MapFileForReading(Wide(PathOf("missing"))), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OS::MapFileForReading(Wide(m_folder.string())), nullptr);
}

}  // namespace
