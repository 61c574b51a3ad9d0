// How the unpacker writes the patch folder: every block is a checked write,
// and nothing is forced to the disk (the folder is rebuilt after a crash).
#include <gtest/gtest.h>

#include "KernelStandard/platform/FaultInjection.h"
#include "archive_test_support.h"
#include "patch/PatchArchive.h"

namespace {

using namespace packagetest;

Bytes TwoFileArchive(const Bytes& first, const Bytes& second) {
  return ArchiveBuilder()
      .Folder(L".\\data")
      .File(L".\\data\\first.bin", first)
      .File(L".\\data\\second.bin", second)
      .Get();
}

TEST_F(ArchiveTest, UnpackedFilesAreNotForcedToTheDisk) {
  const Bytes first = PatternBytes(300000, 7);
  const Bytes second = PatternBytes(1000, 8);
  WriteArchive(TwoFileArchive(first, second));
  OS::ScopedFaults faults;
  ASSERT_TRUE(UnpackWrittenArchive());
  EXPECT_EQ(faults.Calls("FlushStream"), 0);
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "first.bin"), first);
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "second.bin"), second);
}

TEST_F(ArchiveTest, AFailedWriteFailsTheUnpack) {
  WriteArchive(TwoFileArchive(PatternBytes(5000, 1), PatternBytes(5000, 2)));
  OS::ScopedFaults faults;
  OS::FaultRule full;
  full.operation = "WriteDescriptor";
  full.pathContains = "second.bin";
  full.error = OS::ERROR_DISK_FULL;
  faults.Add(full);
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "first.bin"), PatternBytes(5000, 1));
}

TEST_F(ArchiveTest, AFileThatCannotBeCreatedFailsTheUnpack) {
  WriteArchive(TwoFileArchive(PatternBytes(10, 1), PatternBytes(10, 2)));
  OS::ScopedFaults faults;
  OS::FaultRule refuse;
  refuse.operation = "OpenDescriptor";
  refuse.pathContains = "first.bin";
  refuse.error = OS::ERROR_ACCESS_DENIED;
  faults.Add(refuse);
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_FALSE(std::filesystem::exists(m_destination / "data" / "second.bin"));
}

}  // namespace
