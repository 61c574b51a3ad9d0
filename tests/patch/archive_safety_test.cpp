// Entry names that would leave the destination folder are refused before
// anything is written for them, and nothing outside the destination changes.
#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "patch/PatchArchive.h"

namespace {

using namespace packagetest;
namespace fs = std::filesystem;

const std::wstring kRefused = L"UnpackPatchArchive> refusing unsafe entry name: ";

struct UnsafeName {
  const char* label;
  std::wstring name;
};

std::vector<UnsafeName> UnsafeNames() {
  return {
      {"parent file", L"..\\evil.txt"},
      {"parent folder", L"..\\evil"},
      {"two levels up", L".\\data\\..\\..\\..\\evil.txt"},
      {"forward slashes", L"./../../evil.txt"},
      {"only dots", L".\\...\\evil.txt"},
      {"dots and space", L".\\.. \\evil.txt"},
      {"leading backslash", L"\\evil.txt"},
      {"leading slash", L"/evil.txt"},
      {"absolute", L"/tmp/evil.txt"},
      {"unc", L"\\\\server\\share\\evil.txt"},
      {"drive letter", L"C:evil.txt"},
      {"drive root", L"C:\\evil.txt"},
      {"stream", L".\\data.txt:hidden"},
      {"embedded nul", std::wstring(L".\\evil.txt\0.dll", 15)},
  };
}

class ArchiveSafety : public ArchiveTest {
 protected:
  void ExpectRefused(const Bytes& archive, const std::wstring& shownName) {
    WriteArchive(archive);
    const std::vector<std::string> outsideBefore = OutsideListing();
    const std::vector<std::string> insideBefore = DestinationListing();
    LogCapture log;
    EXPECT_FALSE(UnpackWrittenArchive());
    EXPECT_TRUE(log.Contains(kRefused + shownName));
    EXPECT_EQ(OutsideListing(), outsideBefore);
    EXPECT_EQ(DestinationListing(), insideBefore);
  }
};

TEST_F(ArchiveSafety, EveryNameThatLeavesTheDestinationIsRefused) {
  for (const UnsafeName& unsafe : UnsafeNames()) {
    SCOPED_TRACE(unsafe.label);
    EXPECT_FALSE(NolkPatch::IsSafeEntryName(unsafe.name));
    const bool folder = NolkPatch::IsFolderEntryName(unsafe.name);
    ArchiveBuilder builder;
    builder.RawName(unsafe.name);
    if (!folder) builder.RawContent(TextBytes("payload"));
    std::wstring shown = unsafe.name;
    std::replace(shown.begin(), shown.end(), L'\0', L'?');
    ExpectRefused(builder.Get(), shown);
  }
}

TEST_F(ArchiveSafety, EntriesBeforeARefusedNameStayAndNoneAfterItAreWritten) {
  ArchiveBuilder builder;
  builder.Folder(L".\\data").File(L".\\data\\ok.txt", TextBytes("ok"));
  builder.RawName(L"..\\escape.txt").RawContent(TextBytes("x"));
  builder.File(L".\\data\\after.txt", TextBytes("after"));
  WriteArchive(builder.Get());
  const std::vector<std::string> outsideBefore = OutsideListing();
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_EQ(DestinationListing(), (std::vector<std::string>{"data", "data/ok.txt"}));
  EXPECT_EQ(OutsideListing(), outsideBefore);
}

TEST_F(ArchiveSafety, AbsurdCharacterCountsAreRefused) {
  // More characters than the block holds.
  Bytes tooFew = NolkPatch::EncodeNameBlock(u".\\abc");
  tooFew[0] = 200;
  ExpectRefused(ArchiveBuilder().RawNameBlock(tooFew).Get(), L".\\abc");
  // A count over 32,767, with or without the bytes to back it.
  Bytes huge = NolkPatch::EncodeNameBlock(u"x");
  huge[3] = 0x80;
  ExpectRefused(ArchiveBuilder().RawNameBlock(huge).Get(), L"x");
  const std::u16string longName(32768, u'a');
  ExpectRefused(ArchiveBuilder().RawNameBlock(NolkPatch::EncodeNameBlock(longName)).Get(), L"aaaa");
}

TEST_F(ArchiveSafety, ANameBlockLongerThanTheLongestNameIsRefused) {
  // The longest valid name block, then a second block in the same stream:
  // the bytes beyond the limit are not read as part of the name.
  const Bytes first =
      ArchiveBuilder().RawNameBlock(NolkPatch::EncodeNameBlock(std::u16string(32767, u'a'))).Get();
  const Bytes second = ArchiveBuilder().RawNameBlock(TextBytes("xx")).Get();
  Bytes archive(first.begin(), first.begin() + 4);                 // format version
  for (std::uint8_t byte : {2, 0, 0, 0}) archive.push_back(byte);  // two blocks
  archive.insert(archive.end(), first.begin() + 8, first.end());
  archive.insert(archive.end(), second.begin() + 8, second.end());
  ExpectRefused(archive, L"aaaa");
}

TEST_F(ArchiveSafety, TheLongestAllowedNameIsStillRead) {
  // 32,767 characters is within the limit; the file system then refuses the
  // name itself, which fails as an uncreatable file, without the refusal.
  LogCapture log;
  const std::u16string longName = std::u16string(32763, u'a') + u".txt";
  EXPECT_FALSE(Unpack(ArchiveBuilder().RawNameBlock(NolkPatch::EncodeNameBlock(longName)).Get()));
  EXPECT_FALSE(log.Contains(kRefused));
}

TEST_F(ArchiveSafety, AnUnpairedSurrogateIsRefused) {
  Bytes block = NolkPatch::EncodeNameBlock(u"ab");
  block[4] = 0x00;
  block[5] = 0xD8;  // a high surrogate followed by 'b'
  ExpectRefused(ArchiveBuilder().RawNameBlock(block).Get(), L"?b");
}

TEST_F(ArchiveSafety, HarmlessDotsAreNotMistakenForParents) {
  const Bytes archive = ArchiveBuilder()
                            .Folder(L".\\.\\data")
                            .File(L".\\data\\..x", TextBytes("1"))
                            .File(L".\\data\\a..b.txt", TextBytes("2"))
                            .File(L".\\data\\.hidden", TextBytes("3"))
                            .Get();
  ASSERT_TRUE(Unpack(archive));
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "..x"), TextBytes("1"));
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "a..b.txt"), TextBytes("2"));
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / ".hidden"), TextBytes("3"));
}

TEST(ArchiveWriters, RefuseNamesTheUnpackerWouldReadDifferentlyOrRefuse) {
  NolkDataBufferMemoryDynamic buffer;
  NolkDataBufferMemoryStatic content(nullptr, 0);
  EXPECT_EQ(NolkPatch::WriteFolderEntry(buffer, L".\\x.txt"), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(NolkPatch::WriteFileEntry(buffer, L".\\README", content), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(NolkPatch::WriteFolderEntry(buffer, L"..\\data"), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(NolkPatch::WriteFileEntry(buffer, L"C:\\x.txt", content), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(NolkPatch::WriteFolderEntry(buffer, std::wstring(32768, L'a')), NOLKRESULT_BAD_ARGUMENT);
  EXPECT_EQ(buffer.GetSize(), 0u);
}

}  // namespace
