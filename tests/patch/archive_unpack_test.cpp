// UnpackPatchArchive on well-formed and damaged archives.
#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "patch/PatchArchive.h"

namespace {

using namespace packagetest;
namespace fs = std::filesystem;

using Listing = std::vector<std::string>;

TEST_F(ArchiveTest, AnArchiveOfOnlyItsVersionUnpacksToNothing) {
  EXPECT_TRUE(Unpack(ArchiveBuilder().Get()));
  EXPECT_TRUE(DestinationListing().empty());
}

TEST_F(ArchiveTest, AnotherFormatVersionIsRefusedWithoutTouchingTheDestination) {
  EXPECT_FALSE(Unpack(ArchiveBuilder(2).Folder(L".\\data").File(L".\\data\\a.txt", TextBytes("a")).Get()));
  EXPECT_TRUE(DestinationListing().empty());
  EXPECT_FALSE(Unpack(ArchiveBuilder(0x100).Get()));
  EXPECT_FALSE(Unpack(TextBytes("\x01")));
  EXPECT_FALSE(Unpack({}));
}

TEST_F(ArchiveTest, AMissingArchiveFails) {
  EXPECT_FALSE(NolkPatch::UnpackPatchArchive((m_root / "none").wstring(), m_destination.wstring()));
}

TEST_F(ArchiveTest, FoldersAndFilesLandWhereTheirNamesSay) {
  const Bytes diff = PatternBytes(70000, 3);
  const Bytes list = TextBytes("bin\\x.dll\r\n0123456789abcdef0123456789abcdef\r\n\r\n");
  const Bytes archive = ArchiveBuilder()
                            .Folder(L".\\data")
                            .Folder(L".\\data\\bin")
                            .File(L".\\data\\bin\\x.dll.diff", diff)
                            .File(L".\\patchedFiles.txt", list)
                            .Get();
  ASSERT_TRUE(Unpack(archive));
  EXPECT_EQ(DestinationListing(), (Listing{"data", "data/bin", "data/bin/x.dll.diff", "patchedFiles.txt"}));
  EXPECT_TRUE(fs::is_directory(m_destination / "data" / "bin"));
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "bin" / "x.dll.diff"), diff);
  EXPECT_EQ(ReadFileBytes(m_destination / "patchedFiles.txt"), list);
}

TEST_F(ArchiveTest, ANameWithoutADotIsAFolderWithNoContentBlock) {
  // .\README is a folder entry: the next block is taken as a name block.
  ASSERT_TRUE(Unpack(ArchiveBuilder().Folder(L".\\README").File(L".\\notes.txt", TextBytes("n")).Get()));
  EXPECT_TRUE(fs::is_directory(m_destination / "README"));
  EXPECT_EQ(ReadFileBytes(m_destination / "notes.txt"), TextBytes("n"));
  // A trailing separator makes a folder even with a dot in the name.
  ASSERT_TRUE(Unpack(ArchiveBuilder().Folder(L".\\v1.2\\").Get()));
  EXPECT_TRUE(fs::is_directory(m_destination / "v1.2"));
}

TEST_F(ArchiveTest, AnEmptyFileIsABlockCountOfZero) {
  const Bytes archive = ArchiveBuilder().File(L".\\empty.txt", {}).Get();
  // Version, name block, then a content block that is only its count.
  ASSERT_GE(archive.size(), 8u);
  EXPECT_EQ(Bytes(archive.end() - 4, archive.end()), (Bytes{0, 0, 0, 0}));
  ASSERT_TRUE(Unpack(archive));
  ASSERT_TRUE(fs::is_regular_file(m_destination / "empty.txt"));
  EXPECT_EQ(fs::file_size(m_destination / "empty.txt"), 0u);
}

TEST_F(ArchiveTest, NestedFoldersAndAnExistingFileIsReplaced) {
  WriteFileBytes(m_destination / "old.txt", TextBytes("a much longer previous content"));
  const Bytes archive = ArchiveBuilder()
                            .Folder(L".\\a")
                            .Folder(L".\\a\\b")
                            .Folder(L".\\a\\b\\c")
                            .File(L".\\a\\b\\c\\deep.bin", PatternBytes(10, 5))
                            .File(L"old.txt", TextBytes("new"))
                            .Get();
  ASSERT_TRUE(Unpack(archive));
  EXPECT_EQ(ReadFileBytes(m_destination / "a" / "b" / "c" / "deep.bin"), PatternBytes(10, 5));
  EXPECT_EQ(ReadFileBytes(m_destination / "old.txt"), TextBytes("new"));
}

TEST_F(ArchiveTest, AFileWithoutItsFolderEntryFails) {
  const Bytes archive = ArchiveBuilder().File(L".\\data\\x.dll", TextBytes("x")).Get();
  EXPECT_FALSE(Unpack(archive));
  EXPECT_TRUE(DestinationListing().empty());
}

TEST_F(ArchiveTest, ATruncatedArchiveFails) {
  const Bytes archive =
      ArchiveBuilder().Folder(L".\\data").File(L".\\data\\big.bin", PatternBytes(5000, 6)).Get();
  const Bytes oneFolder = ArchiveBuilder().Folder(L".\\data").Get();
  // Cut at the last byte and inside the content block, and inside the
  // header of the file's name block.
  for (std::size_t length : {archive.size() - 1, archive.size() - 100, oneFolder.size() + 6}) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(Unpack(Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length))));
  }
  Bytes extra = oneFolder;
  extra.push_back(1);
  EXPECT_FALSE(Unpack(extra));
}

TEST_F(ArchiveTest, ACorruptContentBlockFails) {
  Bytes archive = ArchiveBuilder().File(L".\\data.bin", PatternBytes(3000, 7)).Get();
  // Inside the zlib data of the content block (its header ends 12 bytes in).
  const std::size_t contentStart = ArchiveBuilder().RawName(L".\\data.bin").Get().size();
  archive[contentStart + 20] ^= 0xFF;
  archive[contentStart + 21] ^= 0xFF;
  EXPECT_FALSE(Unpack(archive));
}

TEST_F(ArchiveTest, ANameBlockMustHoldExactlyItsCharacters) {
  const Bytes name = NolkPatch::EncodeNameBlock(u".\\a");
  Bytes longer = name;
  longer.push_back('x');
  longer.push_back(0);
  Bytes shorter(name.begin(), name.end() - 2);
  Bytes odd = name;
  odd.push_back(0);
  for (const Bytes& block : {longer, shorter, odd, Bytes{3, 0}}) {
    EXPECT_FALSE(Unpack(ArchiveBuilder().RawNameBlock(block).Get()));
    EXPECT_TRUE(DestinationListing().empty());
  }
  ASSERT_TRUE(Unpack(ArchiveBuilder().RawNameBlock(name).Get()));
  EXPECT_EQ(DestinationListing(), Listing{"a"});
}

TEST_F(ArchiveTest, NonAsciiNamesRoundTrip) {
  // Folders keep every character. Files reach the disk through the 8-bit
  // stream path, which keeps the typographic characters of Windows-1252.
  const std::wstring folder = L".\\donn\u00e9es \u65e5\u672c \U0001F600";
  const std::wstring file = L".\\notes \u2013 \u201cfinal\u201d.txt";
  ASSERT_TRUE(Unpack(ArchiveBuilder().Folder(folder).File(file, TextBytes("ok")).Get()));
  EXPECT_TRUE(fs::is_directory(m_destination / fs::path(u8"donn\u00e9es \u65e5\u672c \U0001F600")));
  EXPECT_EQ(ReadFileBytes(m_destination / fs::path(u8"notes \u2013 \u201cfinal\u201d.txt")), TextBytes("ok"));
}

}  // namespace
