// The win32 backend's files: share modes, the read-only attribute, renames
// and long paths behave as Windows programs expect.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "tests/KernelStandard/win32_test_support.h"

namespace {

using Win32Test::HeldFile;
using Win32Test::ReadWholeFile;
using Win32Test::TempFolder;
using Win32Test::WriteWholeFile;

OS::Platform& Platform() {
  return OS::Current();
}

TEST(Win32ShareModes, AWriterLetsOthersReadButNotWrite) {
  TempFolder folder;
  const std::wstring path = folder.Path(L"data.bin");
  std::FILE* writer = Platform().OpenStream(path, OS::OpenMode::CreateTruncate);
  ASSERT_NE(writer, nullptr);

  std::FILE* reader = Platform().OpenStream(path, OS::OpenMode::Read);
  EXPECT_NE(reader, nullptr);
  if (reader != nullptr) Platform().CloseStream(reader);

  EXPECT_EQ(Platform().OpenStream(path, OS::OpenMode::ReadWrite), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Platform().OpenDescriptor(path, OS::OpenMode::CreateTruncate), -1);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  Platform().CloseStream(writer);

  std::FILE* again = Platform().OpenStream(path, OS::OpenMode::ReadWrite);
  EXPECT_NE(again, nullptr);
  if (again != nullptr) Platform().CloseStream(again);
}

TEST(Win32ShareModes, AFileHeldWithoutSharingIsInUseAndRefused) {
  TempFolder folder;
  const std::wstring path = folder.Path(L"Ombrix.exe");
  ASSERT_TRUE(WriteWholeFile(path, "game"));
  EXPECT_FALSE(Platform().IsFileInUse(path));
  {
    HeldFile game(path, GENERIC_READ, 0);
    ASSERT_TRUE(game.Open());
    EXPECT_TRUE(Platform().IsFileInUse(path));
    EXPECT_EQ(Platform().OpenStream(path, OS::OpenMode::Read), nullptr);
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  }
  EXPECT_FALSE(Platform().IsFileInUse(path));
  EXPECT_EQ(ReadWholeFile(path), "game");
}

TEST(Win32ShareModes, ANewExclusiveFileIsSharedWithNoOneAndNeverReplacesOne) {
  TempFolder folder;
  const std::wstring path = folder.Path(L"part.tmp");
  const int fd = Platform().OpenDescriptor(path, OS::OpenMode::CreateExclusive);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Platform().OpenStream(path, OS::OpenMode::Read), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Platform().WriteDescriptor(fd, "abc", 3), 3);
  Platform().CloseDescriptor(fd);

  EXPECT_EQ(Platform().OpenDescriptor(path, OS::OpenMode::CreateExclusive), -1);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadWholeFile(path), "abc");
}

TEST(Win32ReadOnlyAttribute, ProtectsTheFileUntilItIsCleared) {
  TempFolder folder;
  const std::wstring target = folder.Path(L"target.dat");
  const std::wstring update = folder.Path(L"update.dat");
  ASSERT_TRUE(WriteWholeFile(target, "old"));
  ASSERT_TRUE(WriteWholeFile(update, "new"));
  ASSERT_TRUE(Platform().SetReadOnlyFlag(target, true));

  OS::FileInfo info;
  ASSERT_TRUE(Platform().Stat(target, info));
  EXPECT_TRUE(info.readOnly);
  EXPECT_EQ(info.permissions, 0444u);
  EXPECT_NE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  EXPECT_EQ(Platform().OpenStream(target, OS::OpenMode::ReadWrite), nullptr);
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Platform().DeleteFile(target));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Platform().ReplaceFile(update, target));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Platform().CopyFile(update, target, true));
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(ReadWholeFile(update), "new");

  ASSERT_TRUE(Platform().SetReadOnlyFlag(target, false));
  ASSERT_TRUE(Platform().Stat(target, info));
  EXPECT_FALSE(info.readOnly);
  EXPECT_EQ(info.permissions, 0666u);
  EXPECT_TRUE(Platform().ReplaceFile(update, target));
  EXPECT_EQ(ReadWholeFile(target), "new");
  EXPECT_FALSE(Platform().Exists(update));
}

TEST(Win32Renames, AMoveNeverReplacesAndAReplaceRefusesAFolder) {
  TempFolder folder;
  const std::wstring from = folder.Path(L"a.txt");
  const std::wstring to = folder.Path(L"b.txt");
  ASSERT_TRUE(WriteWholeFile(from, "a"));
  ASSERT_TRUE(WriteWholeFile(to, "b"));
  EXPECT_FALSE(Platform().MoveFile(from, to));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadWholeFile(to), "b");

  ASSERT_TRUE(Platform().CreateDirectory(folder.Path(L"sub")));
  EXPECT_FALSE(Platform().ReplaceFile(from, folder.Path(L"sub")));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);

  EXPECT_TRUE(Platform().MoveFile(from, folder.Path(L"sub/c.txt")));
  EXPECT_EQ(ReadWholeFile(folder.Path(L"sub\\c.txt")), "a");
  EXPECT_TRUE(Platform().ReplaceFile(folder.Path(L"sub/c.txt"), folder.Path(L"missing.txt")));
  EXPECT_EQ(ReadWholeFile(folder.Path(L"missing.txt")), "a");
}

TEST(Win32Paths, LongPathsWorkThroughEveryCall) {
  TempFolder folder;
  std::wstring path = folder.Path();
  const std::wstring component(60, L'd');
  for (int level = 0; level < 6; ++level) {
    path += L"/" + component + std::to_wstring(level);
    ASSERT_TRUE(Platform().CreateDirectory(path)) << "level " << level << " error " << OS::GetLastError();
  }
  ASSERT_GT(path.size(), 300u);
  const std::wstring file = path + L"/Deep File.bin";
  ASSERT_TRUE(WriteWholeFile(file, "deep"));
  OS::FileInfo info;
  ASSERT_TRUE(Platform().Stat(file, info));
  EXPECT_EQ(info.size, 4u);
  std::vector<OS::DirEntry> entries;
  ASSERT_TRUE(Platform().ListDirectory(path, entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"Deep File.bin");
  EXPECT_TRUE(Platform().ReplaceFile(file, path + L"/renamed.bin"));
  EXPECT_TRUE(Platform().DeleteFile(path + L"/renamed.bin"));
  EXPECT_TRUE(Platform().RemoveDirectory(path));
  EXPECT_FALSE(Platform().Exists(path));
}

TEST(Win32Folders, ListingIsSortedWithoutCaseAndNamesMatchWithoutCase) {
  TempFolder folder;
  for (const wchar_t* name : {L"beta.txt", L"Alpha.txt", L"gamma.txt"})
    ASSERT_TRUE(WriteWholeFile(folder.Path(name), "x"));
  ASSERT_TRUE(Platform().CreateDirectory(folder.Path(L"Delta")));
  std::vector<OS::DirEntry> entries;
  ASSERT_TRUE(Platform().ListDirectory(folder.Path() + L"/", entries));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, L"Alpha.txt");
  EXPECT_EQ(entries[1].name, L"beta.txt");
  EXPECT_EQ(entries[2].name, L"Delta");
  EXPECT_TRUE(entries[2].isDirectory);
  EXPECT_FALSE(entries[1].isDirectory);
  EXPECT_TRUE(Platform().Exists(folder.Path(L"ALPHA.TXT")));
  EXPECT_FALSE(Platform().ListDirectory(folder.Path(L"none"), entries));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_PATH_NOT_FOUND);
}

TEST(Win32Folders, FreeSpaceAndTheWriteTestAnswerForRealFolders) {
  TempFolder folder;
  std::uint64_t freeBytes = 0;
  ASSERT_TRUE(Platform().GetFreeBytes(folder.Path(), freeBytes));
  EXPECT_GT(freeBytes, 0u);
  EXPECT_TRUE(Platform().CanWriteFolder(folder.Path()));
  EXPECT_FALSE(Platform().CanWriteFolder(folder.Path(L"missing")));
  // The read-only attribute of a folder does not stop writing on Windows.
  ASSERT_TRUE(Platform().SetReadOnlyFlag(folder.Path(), true));
  EXPECT_TRUE(Platform().CanWriteFolder(folder.Path()));
  ASSERT_TRUE(Platform().SetReadOnlyFlag(folder.Path(), false));
  std::vector<OS::DirEntry> entries;
  ASSERT_TRUE(Platform().ListDirectory(folder.Path(), entries));
  EXPECT_TRUE(entries.empty()) << "the write test leaves no file behind";
}

TEST(Win32Streams, TruncateKeepsThePositionAndLengthFollowsWrites) {
  TempFolder folder;
  const std::wstring path = folder.Path(L"grow.bin");
  std::FILE* stream = Platform().OpenStream(path, OS::OpenMode::CreateReadWrite);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(Platform().WriteStream(stream, "0123456789", 10), 10u);
  std::uint64_t length = 0;
  ASSERT_TRUE(Platform().StreamLength(stream, length));
  EXPECT_EQ(length, 10u);
  ASSERT_TRUE(Platform().TruncateStream(stream, 4));
  ASSERT_TRUE(Platform().StreamLength(stream, length));
  EXPECT_EQ(length, 4u);
  ASSERT_TRUE(Platform().SeekStream(stream, 2));
  ASSERT_EQ(Platform().WriteStream(stream, "ab", 2), 2u);
  ASSERT_TRUE(Platform().FlushStream(stream, true));
  Platform().CloseStream(stream);
  EXPECT_EQ(ReadWholeFile(path), "01ab");

  // Committing through a stream opened for reading: the files a patch wrote
  // are committed that way before the patch counts as applied.
  std::FILE* reader = Platform().OpenStream(path, OS::OpenMode::Read);
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(Platform().FlushStream(reader, true)) << OS::GetLastError();
  Platform().CloseStream(reader);
  EXPECT_EQ(ReadWholeFile(path), "01ab");
}

}  // namespace

#endif  // _WIN32
