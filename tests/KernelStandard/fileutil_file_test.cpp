// File queries and changes: existence, size, time, read-only flag, delete,
// move and creation.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "KernelStandard/ChildProcess.h"
#include "KernelStandard/FileUtil.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/fileutil_testfolder.h"
#include "tests/KernelStandard/linux_only.h"

using fileutil_test::TestFolder;
namespace fs = std::filesystem;

namespace {

bool OwnerMayWrite(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

}  // namespace

TEST(FileUtilQueries, ExistingFileGivesSizeAndTime) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("f.bin", "12345");
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(1'000'000'000));
  fs::last_write_time(root.Native("f.bin"), std::chrono::file_clock::from_sys(when));

  EXPECT_TRUE(NolkUtil::FileExists(root.Wide(L"f.bin")));
  std::uint64_t size = 0;
  EXPECT_EQ(NolkUtil::GetFileSize(root.Wide(L"f.bin"), size), NOLKRESULT_OK);
  EXPECT_EQ(size, 5u);
  std::int64_t time = 0;
  EXPECT_EQ(NolkUtil::GetFileModifiedTime(root.Wide(L"f.bin"), time), NOLKRESULT_OK);
  EXPECT_EQ(time, 1'000'000'000);
}

TEST(FileUtilQueries, MissingFileGivesResultTwoAndZero) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  std::uint64_t size = 77;
  std::int64_t time = 77;
  EXPECT_FALSE(NolkUtil::FileExists(root.Wide(L"nope")));
  EXPECT_EQ(NolkUtil::GetFileSize(root.Wide(L"nope"), size), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(NolkUtil::GetFileModifiedTime(root.Wide(L"nope"), time), NOLKRESULT_FILE_ERROR);
  EXPECT_EQ(time, 0);
  EXPECT_FALSE(NolkUtil::IsDirectory(root.Wide(L"nope")));
}

TEST(FileUtilQueries, SizeBeyondFourGigabytesIsExact) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("sparse", "");
  fs::resize_file(root.Native("sparse"), 5'000'000'000ull);  // sparse: no disk space used
  std::uint64_t size = 0;
  EXPECT_EQ(NolkUtil::GetFileSize(root.Wide(L"sparse"), size), NOLKRESULT_OK);
  EXPECT_EQ(size, 5'000'000'000ull);
}

TEST(FileUtilQueries, MisCasedPathsFindExistingEntries) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("dir/file.txt", "abc");
  EXPECT_TRUE(NolkUtil::FileExists(root.Wide(L"DIR\\File.TXT")));
  EXPECT_TRUE(NolkUtil::IsDirectory(root.Wide(L"Dir")));
  EXPECT_FALSE(NolkUtil::IsDirectory(root.Wide(L"DIR\\FILE.txt")));
  std::uint64_t size = 0;
  EXPECT_EQ(NolkUtil::GetFileSize(root.Wide(L"dir\\FILE.TXT"), size), NOLKRESULT_OK);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(Vek::FileStatus(fs::path(root.Wide(L"DIR/file.txt")).string()), 0);
}

TEST(FileUtilQueries, EightBitGroupLosesNamesTheWideGroupKeeps) {
  KORVEL_LINUX_ONLY("file names are UTF-8 bytes there; Windows 8-bit names are in the ANSI code page");
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.MakeFolder("d\xc3\xa9j\xc3\xa0");  // "déjà" in UTF-8
  const std::wstring folder = root.Wide(L"d\u00e9j\u00e0");
  EXPECT_TRUE(NolkUtil::IsDirectory(folder));
  EXPECT_FALSE(NolkUtil::FileExists(folder));
}

TEST(FileUtilStatus, ExistenceGivesZeroOrTwo) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("x", "x");
  const std::string base = root.Path().string();
  EXPECT_EQ(Vek::FileStatus(base + "/x"), 0);
  EXPECT_EQ(Vek::FileStatus(base + "/y"), 2);
  EXPECT_EQ(Vek::FileStatus("volume:" + base + "/x"), 2);  // no volumes: a plain, missing path
}

TEST(FileUtilReadOnly, SetAndClearKeepTheOtherFlags) {
  KORVEL_LINUX_ONLY("the other flag is the POSIX execute bit");
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("f", "x");
  fs::permissions(root.Native("f"), fs::perms::owner_exec, fs::perm_options::add);
  EXPECT_TRUE(NolkUtil::SetReadOnly(root.Wide(L"f")));
  EXPECT_FALSE(OwnerMayWrite(root.Native("f")));
  EXPECT_TRUE(NolkUtil::ClearReadOnly(root.Wide(L"f")));
  EXPECT_TRUE(OwnerMayWrite(root.Native("f")));
  EXPECT_NE(fs::status(root.Native("f")).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST(FileUtilReadOnly, MissingPathFails) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  EXPECT_FALSE(NolkUtil::SetReadOnly(root.Wide(L"missing")));
  EXPECT_FALSE(NolkUtil::ClearReadOnly(root.Wide(L"missing")));
}

TEST(FileUtilDeleteFile, DeletesAndRefusesAnEmptyPath) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("f", "x");
  {
    OS::ScopedFaults faults;
    EXPECT_FALSE(NolkUtil::DeleteFile(L""));
    EXPECT_EQ(faults.Calls("DeleteFile"), 0);
  }
  EXPECT_TRUE(NolkUtil::DeleteFile(root.Wide(L"f")));
  EXPECT_FALSE(root.Exists("f"));
  EXPECT_FALSE(NolkUtil::DeleteFile(root.Wide(L"f")));
}

TEST(FileUtilMoveFile, MovesToAFreeName) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("src", "data");
  EXPECT_TRUE(NolkUtil::MoveFile(root.Wide(L"src"), root.Wide(L"src.pbk")));
  EXPECT_FALSE(root.Exists("src"));
  EXPECT_EQ(root.ReadFile("src.pbk"), "data");
}

TEST(FileUtilMoveFile, ExistingDestinationIsNotReplaced) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("src", "new");
  root.WriteFile("dst", "old");
  EXPECT_FALSE(NolkUtil::MoveFile(root.Wide(L"src"), root.Wide(L"dst")));
  EXPECT_EQ(root.ReadFile("src"), "new");
  EXPECT_EQ(root.ReadFile("dst"), "old");
}

TEST(FileUtilMoveFile, FileHeldOpenByAnotherProcessIsNotMoved) {
  KORVEL_LINUX_ONLY("the holder is a POSIX shell; win32_file_semantics_test holds files through share modes");
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("held", "data");
  // The child opens the file, says so, and keeps it open until the test
  // creates "held.done".
  const std::wstring script =
      L"-c \"exec 3<\\\"$0\\\"; echo ready; while [ ! -e \\\"$0.done\\\" ]; do sleep 0.05; done\" " +
      root.Wide(L"held");
  std::unique_ptr<ChildProcess> holder = NolkUtil::LaunchProcess(L"/bin/sh", script);
  ASSERT_NE(holder, nullptr);
  std::string said;
  while (said.find("ready") == std::string::npos && holder->ReadOutput(said)) {
  }
  ASSERT_NE(said.find("ready"), std::string::npos);

  OS::ScopedFaults faults;
  EXPECT_FALSE(NolkUtil::MoveFile(root.Wide(L"held"), root.Wide(L"moved")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(faults.Calls("MoveFile"), 0);
  EXPECT_EQ(root.ReadFile("held"), "data");
  EXPECT_FALSE(root.Exists("moved"));

  root.WriteFile("held.done", "");
  EXPECT_TRUE(holder->Wait(10000));
  EXPECT_EQ(holder->GetExitCode(), 0);
}

TEST(FileUtilCreateFileIfMissing, CreatesALineEndOnce) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  EXPECT_TRUE(NolkUtil::CreateFileIfMissing(root.Wide(L"new.txt")));
  EXPECT_EQ(root.ReadFile("new.txt"), "\r\n");
  root.WriteFile("old.txt", "keep");
  EXPECT_FALSE(NolkUtil::CreateFileIfMissing(root.Wide(L"old.txt")));
  EXPECT_EQ(root.ReadFile("old.txt"), "keep");
}

TEST(FileUtilCreateFileIfMissing, FailuresAreReported) {
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  EXPECT_FALSE(NolkUtil::CreateFileIfMissing(root.Wide(L"no/such/folder/f")));
  OS::ScopedFaults faults;
  OS::FaultRule full;
  full.operation = "WriteStream";
  full.error = OS::ERROR_DISK_FULL;
  faults.Add(full);
  EXPECT_FALSE(NolkUtil::CreateFileIfMissing(root.Wide(L"full.txt")));
}
