// ReplaceFile: moving a file over another in one step, the cases Windows
// refuses, and its fault injection.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "platform_test_support.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_ino;
}

std::size_t EntryCount(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

class PlatformReplaceTest : public ::testing::Test {
 protected:
  OS::Platform& os = OS::Native();
  TempFolder folder;
};

TEST_F(PlatformReplaceTest, ReplacesAnExistingFileByRenamingTheNewOneOverIt) {
  WriteText(folder.Native("log.tmp"), "new contents");
  WriteText(folder.Native("log.dat"), "old");
  const ino_t newFile = InodeOf(folder.Native("log.tmp"));
  ASSERT_TRUE(os.ReplaceFile(folder.Wide("log.tmp"), folder.Wide("log.dat")));
  EXPECT_EQ(ReadText(folder.Native("log.dat")), "new contents");
  EXPECT_FALSE(std::filesystem::exists(folder.Native("log.tmp")));
  // The very file written before takes the name: nothing was copied, so no
  // reader can ever see a partly written log.
  EXPECT_EQ(InodeOf(folder.Native("log.dat")), newFile);
}

TEST_F(PlatformReplaceTest, WorksWhenTheTargetIsMissing) {
  WriteText(folder.Native("a"), "payload");
  ASSERT_TRUE(os.ReplaceFile(folder.Wide("a"), folder.Wide("b")));
  EXPECT_EQ(ReadText(folder.Native("b")), "payload");
  EXPECT_EQ(EntryCount(folder.Native()), 1u);
}

TEST_F(PlatformReplaceTest, CaseVariantOfTheTargetReplacesTheExistingFile) {
  WriteText(folder.Native("new"), "fresh");
  WriteText(folder.Native("Unins000.DAT"), "old");
  ASSERT_TRUE(os.ReplaceFile(folder.Wide("new"), folder.Wide("unins000.dat")));
  EXPECT_EQ(ReadText(folder.Native("Unins000.DAT")), "fresh");
  EXPECT_EQ(EntryCount(folder.Native()), 1u);
}

TEST_F(PlatformReplaceTest, RefusesTargetsWindowsWouldNotReplace) {
  WriteText(folder.Native("new"), "fresh");
  WriteText(folder.Native("ro"), "keep");
  ASSERT_TRUE(os.SetReadOnlyFlag(folder.Wide("ro"), true));
  std::filesystem::create_directories(folder.Native("dir"));

  EXPECT_FALSE(os.ReplaceFile(folder.Wide("new"), folder.Wide("ro")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadText(folder.Native("ro")), "keep");
  EXPECT_FALSE(os.ReplaceFile(folder.Wide("new"), folder.Wide("dir")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_directory(folder.Native("dir")));
  EXPECT_EQ(ReadText(folder.Native("new")), "fresh");
}

TEST_F(PlatformReplaceTest, MissingSourceFailsAndKeepsTheTarget) {
  WriteText(folder.Native("target"), "keep");
  EXPECT_FALSE(os.ReplaceFile(folder.Wide("missing"), folder.Wide("target")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadText(folder.Native("target")), "keep");
}

TEST_F(PlatformReplaceTest, RefusesToCopyAcrossFileSystems) {
  // A copy between volumes could not be atomic, so it is not attempted.
  struct stat shm {
  }, tmp{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(folder.Native().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char pattern[] = "/dev/shm/korvel-replace-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) GTEST_SKIP() << "/dev/shm is not writable";
  const std::string other = std::string(pattern) + "/target";
  WriteText(other, "keep");
  WriteText(folder.Native("new"), "fresh");

  EXPECT_FALSE(os.ReplaceFile(folder.Wide("new"), OS::FromUtf8(other)));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_NOT_SAME_DEVICE);
  EXPECT_EQ(ReadText(other), "keep");
  EXPECT_EQ(ReadText(folder.Native("new")), "fresh");
  std::filesystem::remove_all(pattern);
}

TEST_F(PlatformReplaceTest, InjectedFaultMatchesEitherPathAndChangesNothing) {
  WriteText(folder.Native("a.tmp"), "new");
  WriteText(folder.Native("a.dat"), "old");
  OS::ScopedFaults faults;
  faults.Add({"ReplaceFile", "a.dat", 0, 1, OS::ERROR_SHARING_VIOLATION, std::nullopt, 0});
  faults.Add({"ReplaceFile", "b.tmp", 0, 1, OS::ERROR_ACCESS_DENIED, std::nullopt, 0});
  OS::Platform& current = OS::Current();

  EXPECT_FALSE(current.ReplaceFile(folder.Wide("a.tmp"), folder.Wide("a.dat")));  // matches the target
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadText(folder.Native("a.dat")), "old");
  EXPECT_EQ(ReadText(folder.Native("a.tmp")), "new");

  WriteText(folder.Native("b.tmp"), "other");
  EXPECT_FALSE(current.ReplaceFile(folder.Wide("b.tmp"), folder.Wide("b.dat")));  // matches the source
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(std::filesystem::exists(folder.Native("b.dat")));

  EXPECT_TRUE(current.ReplaceFile(folder.Wide("a.tmp"), folder.Wide("a.dat")));  // both rules used up
  EXPECT_EQ(ReadText(folder.Native("a.dat")), "new");
  EXPECT_EQ(faults.Calls("ReplaceFile"), 3);
  EXPECT_EQ(faults.Calls("MoveFile"), 0);
}

}  // namespace
