// The disk check, the temporary locations and the unpack animation's length.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/RunDriver.h"
#include "rundriver_test_support.h"

namespace {

using namespace rundrivertest;

constexpr std::uint64_t kMiB = 1048576;
const std::wstring kChecking = L"Checking for available disk space for patching.";
const std::wstring kUnknown =
    L"Patch installer is unable to determine whether sufficient disk space is available for this "
    L"installation. Patching may fail if insufficient disk space is available.";

OS::FaultRule FreeBytes(const std::string& pathContains, std::optional<std::uint64_t> value) {
  OS::FaultRule rule;
  rule.operation = "GetFreeBytes";
  rule.pathContains = pathContains;
  rule.value = value;
  return rule;
}

class DiskSpaceTest : public RunDriverTest {
 protected:
  OS::ScopedFaults m_faults;
};

TEST_F(DiskSpaceTest, OneMegabyteShortOnBothVolumesFails) {
  m_faults.Add(FreeBytes("", 4095 * kMiB));
  EXPECT_FALSE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(Texts(), std::vector<std::wstring>{kChecking});
}

TEST_F(DiskSpaceTest, ExactlyTheRequiredSpacePasses) {
  m_faults.Add(FreeBytes("", 4096 * kMiB));
  EXPECT_TRUE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(Texts(), std::vector<std::wstring>{kChecking});
}

TEST_F(DiskSpaceTest, EachVolumeAloneCanFailTheCheck) {
  for (const char* lowVolume : {"\\temp\\", "\\install/"}) {
    SCOPED_TRACE(lowVolume);
    OS::ScopedFaults faults;
    faults.Add(FreeBytes(lowVolume, 4095 * kMiB));
    faults.Add(FreeBytes("", 8192 * kMiB));
    EXPECT_FALSE(NolkPatch::CheckDiskSpace(4096));
    EXPECT_EQ(faults.Calls("GetFreeBytes"), std::string(lowVolume) == "\\temp\\" ? 1 : 2);
  }
}

TEST_F(DiskSpaceTest, UnreadableSpaceOnBothVolumesWarnsAndPasses) {
  m_faults.Add(FreeBytes("", std::nullopt));
  EXPECT_TRUE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(Messages(), (std::vector<Message>{{0, kChecking}, {0, kUnknown}}));
  EXPECT_EQ(m_faults.Calls("GetFreeBytes"), 2);
}

TEST_F(DiskSpaceTest, UnreadableSpaceOnOneVolumeWarnsAndPasses) {
  m_faults.Add(FreeBytes("\\install/", std::nullopt));
  m_faults.Add(FreeBytes("", 8192 * kMiB));
  EXPECT_TRUE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(Texts(), (std::vector<std::wstring>{kChecking, kUnknown}));
}

TEST_F(DiskSpaceTest, CheckFolderIsMadeUnderTheTemporaryRootAndKept) {
  m_faults.Add(FreeBytes("", 8192 * kMiB));
  ASSERT_TRUE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(TemporaryFolders().size(), 1u);
}

TEST_F(DiskSpaceTest, TemporaryRootThatCannotBeMadeFailsTheCheck) {
  std::ofstream(m_root / "plainfile") << "x";
  UseTemporaryRoot(m_root / "plainfile" / "temp");
  m_faults.Add(FreeBytes("", 8192 * kMiB));
  EXPECT_FALSE(NolkPatch::CheckDiskSpace(4096));
  EXPECT_EQ(m_faults.Calls("GetFreeBytes"), 0);
}

TEST_F(RunDriverTest, GetFreeBytesReadsTheRealVolume) {
  std::uint64_t bytes = 0;
  EXPECT_TRUE(NolkPatch::GetFreeBytes(m_install.wstring(), bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(NolkPatch::GetFreeBytes(L"", bytes));
  EXPECT_FALSE(NolkPatch::GetFreeBytes((m_root / "no" / "such" / "folder").wstring(), bytes));
}

// A system temporary folder of the user's own is used as it is; a shared
// one (such as /tmp) is covered in temporary_root_test.cpp.
TEST_F(RunDriverTest, TemporaryRootFollowsTemp) {
  EXPECT_EQ(NolkPatch::TemporaryRoot(), m_temp.wstring());
  ScopedVariable systemTemp("TMPDIR", (m_root / "system").string());
  const std::wstring systemFolder = OS::Current().SystemTempFolder();
  {
    ScopedVariable unset("TEMP", std::nullopt);
    EXPECT_EQ(NolkPatch::TemporaryRoot(), systemFolder);
  }
  {
    ScopedVariable empty("TEMP", std::string());
    EXPECT_EQ(NolkPatch::TemporaryRoot(), systemFolder);
  }
}

TEST_F(RunDriverTest, TemporaryFoldersAreFreshAndCreateTheRoot) {
  std::wstring first;
  std::wstring second;
  ASSERT_TRUE(NolkPatch::MakeTemporaryFolder(first));
  ASSERT_TRUE(NolkPatch::MakeTemporaryFolder(second));
  EXPECT_NE(first, second);
  EXPECT_TRUE(NolkUtil::IsDirectory(first));
  EXPECT_TRUE(NolkUtil::IsDirectory(second));
  EXPECT_EQ(TemporaryFolders().size(), 2u);
}

TEST_F(RunDriverTest, TemporaryFolderNeverReusesAFolderThatExists) {
  // The name counter is process-wide: the name after this one is taken.
  const std::wstring probe = NolkUtil::MakeTempFileName(m_temp.wstring());
  const std::wstring number = probe.substr(probe.rfind(L"file") + 4);
  const fs::path taken = m_temp / ("file" + std::to_string(std::stoul(number) + 1));
  fs::create_directories(taken);
  std::ofstream(taken / "someone-elses.txt") << "keep";
  std::wstring folder;
  ASSERT_TRUE(NolkPatch::MakeTemporaryFolder(folder));
  EXPECT_NE(fs::path(folder), taken);
  EXPECT_TRUE(fs::exists(taken / "someone-elses.txt"));
}

TEST(UnpackAnimation, DurationIsTwiceTheMegabytesTruncated) {
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(0), 0);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(kMiB * 4 / 10), 0);  // 0.4 MiB
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(kMiB / 2 - 1), 0);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(kMiB / 2), 1);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(kMiB - 1), 1);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(kMiB * 3 / 2), 3);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(1024 * kMiB), 2048);
}

TEST(UnpackAnimation, HugeArchivesStayInTheSigned32BitRange) {
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(std::uint64_t{1} << 40), 2097152);
  EXPECT_EQ(NolkPatch::UnpackAnimationMinutes(~std::uint64_t{0}), INT32_MAX);
}

}  // namespace
