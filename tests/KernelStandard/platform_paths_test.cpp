// File-system members of the POSIX backend: case-insensitive lookup,
// refusing moves onto existing names, the read-only flag, copies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "KernelStandard/platform/Platform.h"
#include "platform_test_support.h"
#include "tests/KernelStandard/linux_only.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

class PlatformPathsTest : public ::testing::Test {
 protected:
  OS::Platform& os = OS::Native();
  TempFolder folder;
};

TEST_F(PlatformPathsTest, BackslashesBecomeSlashesAndMixedCaseComponentsResolve) {
  KORVEL_LINUX_ONLY("the backend matches letter case itself there; Windows names ignore case already");
  std::filesystem::create_directories(folder.Native("Game/Bin"));
  WriteText(folder.Native("Game/Bin/Launcher.exe"), "x");
  EXPECT_EQ(os.NativePath(folder.Wide() + L"\\game\\BIN\\launcher.EXE"),
            folder.Native("Game/Bin/Launcher.exe"));
  EXPECT_TRUE(os.Exists(folder.Wide() + L"\\GAME\\bin\\LAUNCHER.exe"));
}

TEST_F(PlatformPathsTest, ExactNameWinsOverCaseVariant) {
  KORVEL_LINUX_ONLY("the backend matches letter case itself there; Windows names ignore case already");
  WriteText(folder.Native("data.txt"), "lower");
  WriteText(folder.Native("DATA.txt"), "upper");
  EXPECT_EQ(os.NativePath(folder.Wide("DATA.txt")), folder.Native("DATA.txt"));
  EXPECT_EQ(os.NativePath(folder.Wide("data.txt")), folder.Native("data.txt"));
  // Without an exact match, the first variant in byte order is taken.
  EXPECT_EQ(os.NativePath(folder.Wide("Data.TXT")), folder.Native("DATA.txt"));
}

TEST_F(PlatformPathsTest, NewFileBelowMiscasedFolderLandsInExistingFolder) {
  KORVEL_LINUX_ONLY("the backend matches letter case itself there; Windows names ignore case already");
  std::filesystem::create_directories(folder.Native("Assets"));
  std::FILE* stream = os.OpenStream(folder.Wide() + L"/ASSETS/new.bin", OS::OpenMode::CreateTruncate);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(os.WriteStream(stream, "abc", 3), 3u);
  os.CloseStream(stream);
  EXPECT_EQ(ReadText(folder.Native("Assets/new.bin")), "abc");
  EXPECT_FALSE(std::filesystem::exists(folder.Native("ASSETS")));
  // Missing components below a missing one are kept as given.
  EXPECT_EQ(os.NativePath(folder.Wide("assets/Sub/Deeper")), folder.Native("Assets/Sub/Deeper"));
}

TEST_F(PlatformPathsTest, MoveFileRefusesExistingDestination) {
  WriteText(folder.Native("a"), "first");
  WriteText(folder.Native("b"), "second");
  EXPECT_FALSE(os.MoveFile(folder.Wide("a"), folder.Wide("b")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadText(folder.Native("a")), "first");
  EXPECT_EQ(ReadText(folder.Native("b")), "second");
  // A case variant of an existing name is the same file here too.
  EXPECT_FALSE(os.MoveFile(folder.Wide("a"), folder.Wide("B")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
}

TEST_F(PlatformPathsTest, MoveFileMovesFilesAndFolders) {
  WriteText(folder.Native("a"), "first");
  ASSERT_TRUE(os.MoveFile(folder.Wide("a"), folder.Wide("a.pbk")));
  EXPECT_FALSE(std::filesystem::exists(folder.Native("a")));
  EXPECT_EQ(ReadText(folder.Native("a.pbk")), "first");
  std::filesystem::create_directories(folder.Native("dir/inner"));
  ASSERT_TRUE(os.MoveFile(folder.Wide("dir"), folder.Wide("moved")));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Native("moved/inner")));
  EXPECT_FALSE(os.MoveFile(folder.Wide("missing"), folder.Wide("x")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST_F(PlatformPathsTest, ReadOnlyFlagBlocksDeleteAndWriteUntilCleared) {
  WriteText(folder.Native("ro"), "keep");
  ASSERT_TRUE(os.SetReadOnlyFlag(folder.Wide("ro"), true));
  OS::FileInfo info;
  ASSERT_TRUE(os.Stat(folder.Wide("ro"), info));
  EXPECT_TRUE(info.readOnly);
  EXPECT_EQ(std::filesystem::status(folder.Native("ro")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                std::filesystem::perms::others_read);
  EXPECT_FALSE(os.DeleteFile(folder.Wide("ro")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os.OpenStream(folder.Wide("ro"), OS::OpenMode::ReadWrite), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(os.CopyFile(folder.Wide("ro"), folder.Wide("ro"), true));

  ASSERT_TRUE(os.SetReadOnlyFlag(folder.Wide("ro"), false));
  ASSERT_TRUE(os.Stat(folder.Wide("ro"), info));
  EXPECT_FALSE(info.readOnly);
  EXPECT_EQ(info.size, 4u);
  EXPECT_TRUE(os.DeleteFile(folder.Wide("ro")));
  EXPECT_FALSE(std::filesystem::exists(folder.Native("ro")));
}

TEST_F(PlatformPathsTest, CopyFileHonoursOverwriteAndNeverTruncatesItsSource) {
  WriteText(folder.Native("src"), "payload");
  WriteText(folder.Native("dst"), "old");
  EXPECT_FALSE(os.CopyFile(folder.Wide("src"), folder.Wide("dst"), false));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadText(folder.Native("dst")), "old");
  EXPECT_TRUE(os.CopyFile(folder.Wide("src"), folder.Wide("dst"), true));
  EXPECT_EQ(ReadText(folder.Native("dst")), "payload");
  EXPECT_FALSE(os.CopyFile(folder.Wide("src"), folder.Wide("SRC"), true));
  EXPECT_EQ(ReadText(folder.Native("src")), "payload");
}

TEST_F(PlatformPathsTest, DirectoriesCreateListAndRemove) {
  ASSERT_TRUE(os.CreateDirectory(folder.Wide("d")));
  EXPECT_FALSE(os.CreateDirectory(folder.Wide("D")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  WriteText(folder.Native("d/b.txt"), "");
  WriteText(folder.Native("d/A.txt"), "");
  std::filesystem::create_directories(folder.Native("d/c"));
  std::vector<OS::DirEntry> entries;
  ASSERT_TRUE(os.ListDirectory(folder.Wide("D"), entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, L"A.txt");
  EXPECT_EQ(entries[1].name, L"b.txt");
  EXPECT_EQ(entries[2].name, L"c");
  EXPECT_TRUE(entries[2].isDirectory);
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_FALSE(os.RemoveDirectory(folder.Wide("d")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(os.ListDirectory(folder.Wide("none"), entries));
#ifdef _WIN32
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_PATH_NOT_FOUND);  // the system's code for a missing folder
#else
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
#endif
}

TEST_F(PlatformPathsTest, StreamsSeekTruncateAndReportLengthOfBufferedData) {
  std::FILE* stream = os.OpenStream(folder.Wide("s"), OS::OpenMode::CreateReadWrite);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(os.WriteStream(stream, "0123456789", 10), 10u);
  std::uint64_t length = 0;
  ASSERT_TRUE(os.StreamLength(stream, length));
  EXPECT_EQ(length, 10u);
  ASSERT_TRUE(os.TruncateStream(stream, 4));
  ASSERT_TRUE(os.SeekStream(stream, 1));
  char buffer[8] = {};
  EXPECT_EQ(os.ReadStream(stream, buffer, sizeof buffer), 3u);
  EXPECT_EQ(std::string(buffer, 3), "123");
  EXPECT_TRUE(os.FlushStream(stream, true));
  os.CloseStream(stream);
  // CreateReadWrite keeps existing contents.
  stream = os.OpenStream(folder.Wide("s"), OS::OpenMode::CreateReadWrite);
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(os.StreamLength(stream, length));
  EXPECT_EQ(length, 4u);
  os.CloseStream(stream);
  EXPECT_EQ(os.OpenStream(folder.Wide("missing"), OS::OpenMode::Read), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST(PlatformTextTest, Utf8RoundTripsTextAndUndecodableNativeBytes) {
  const std::wstring text = L"Ombrix \u00e9\u0416\u20ac \U0001F600";
  EXPECT_EQ(OS::ToUtf8(text), "Ombrix \xC3\xA9\xD0\x96\xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(OS::FromUtf8(OS::ToUtf8(text)), text);
  const std::string broken = "a\xFF\xC3(b\xE2\x82";
  EXPECT_EQ(OS::ToUtf8(OS::FromUtf8(broken)), broken);
  EXPECT_EQ(OS::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(PlatformErrorTest, LastErrorIsPerThreadAndErrnoMapsToSystemCodes) {
  OS::SetLastError(OS::ERROR_DISK_FULL);
  std::thread([] {
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_SUCCESS);
    OS::SetLastError(OS::ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_DISK_FULL);
  EXPECT_EQ(OS::ErrorFromErrno(ENOSPC), OS::ERROR_DISK_FULL);
  EXPECT_EQ(OS::ErrorFromErrno(EACCES), OS::ERROR_ACCESS_DENIED);
  EXPECT_EQ(OS::ErrorFromErrno(EEXIST), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(OS::ErrorFromErrno(ENOENT), OS::ERROR_FILE_NOT_FOUND);
}

}  // namespace
