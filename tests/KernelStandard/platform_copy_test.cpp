// CopyFile's byte copy: large files, files whose size the kernel does not
// report, copies between file systems, and what a copy keeps of the source.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "KernelStandard/platform/Platform.h"
#include "platform_test_support.h"
#include "tests/KernelStandard/linux_only.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

// Bytes that differ from position to position, so a skipped or repeated
// chunk shows.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

class PlatformCopyTest : public ::testing::Test {
 protected:
  OS::Platform& os = OS::Native();
  TempFolder folder;
};

TEST_F(PlatformCopyTest, CopiesAFileLargerThanTheBufferExactly) {
  const std::string bytes = PatternBytes((3 << 20) + 517);
  WriteText(folder.Native("big"), bytes);
  ASSERT_TRUE(os.CopyFile(folder.Wide("big"), folder.Wide("copy"), false));
  EXPECT_EQ(ReadText(folder.Native("copy")), bytes);
  EXPECT_EQ(ReadText(folder.Native("big")), bytes);
}

TEST_F(PlatformCopyTest, OverwriteShortensALongerDestinationAndEmptySourceGivesEmptyFile) {
  WriteText(folder.Native("short"), "abc");
  WriteText(folder.Native("long"), PatternBytes(100000));
  ASSERT_TRUE(os.CopyFile(folder.Wide("short"), folder.Wide("long"), true));
  EXPECT_EQ(ReadText(folder.Native("long")), "abc");

  WriteText(folder.Native("empty"), "");
  ASSERT_TRUE(os.CopyFile(folder.Wide("empty"), folder.Wide("long"), true));
  EXPECT_EQ(std::filesystem::file_size(folder.Native("long")), 0u);
}

TEST_F(PlatformCopyTest, PermissionBitsFollowTheSource) {
  KORVEL_LINUX_ONLY("Windows files have no POSIX permission bits");
  WriteText(folder.Native("tool"), "#!/bin/sh\n");
  std::filesystem::permissions(folder.Native("tool"),
                               std::filesystem::perms::owner_all | std::filesystem::perms::group_read);
  ASSERT_TRUE(os.CopyFile(folder.Wide("tool"), folder.Wide("copy"), false));
  EXPECT_EQ(std::filesystem::status(folder.Native("copy")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all | std::filesystem::perms::group_read);
}

TEST_F(PlatformCopyTest, FileWithoutAKnownSizeIsCopiedInFull) {
  // /proc files report size 0, yet have contents.
  const std::string expected = ReadText("/proc/self/cmdline");
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(os.CopyFile(L"/proc/self/cmdline", folder.Wide("cmdline"), false));
  EXPECT_EQ(ReadText(folder.Native("cmdline")), expected);
}

TEST_F(PlatformCopyTest, CopiesToAnotherFileSystem) {
  struct stat shm {
  }, tmp{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(folder.Native().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char pattern[] = "/dev/shm/korvel-copy-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) GTEST_SKIP() << "/dev/shm is not writable";
  const std::string bytes = PatternBytes((1 << 20) + 3);
  WriteText(folder.Native("src"), bytes);
  const std::string other = std::string(pattern) + "/dst";
  const bool copied = os.CopyFile(folder.Wide("src"), OS::FromUtf8(other), false);
  const std::string read = ReadText(other);
  std::filesystem::remove_all(pattern);
  ASSERT_TRUE(copied);
  EXPECT_EQ(read, bytes);
}

TEST_F(PlatformCopyTest, FailedOpenOfTheSourceLeavesNoDestination) {
  EXPECT_FALSE(os.CopyFile(folder.Wide("missing"), folder.Wide("dst"), true));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(folder.Native("dst")));
  std::filesystem::create_directories(folder.Native("dir"));
  EXPECT_FALSE(os.CopyFile(folder.Wide("dir"), folder.Wide("dst"), true));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(std::filesystem::exists(folder.Native("dst")));
}

}  // namespace
