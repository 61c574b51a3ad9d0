// Entry name helpers: UTF-16LE name blocks, folder/file classification.
#include <gtest/gtest.h>

#include "patch/ArchiveEntryName.h"

namespace {

using namespace NolkPatch;
using Bytes = std::vector<std::uint8_t>;

TEST(ArchiveEntryName, NameBlocksAreACountAndLittleEndianUnits) {
  std::u16string units;
  ASSERT_TRUE(EncodeUtf16(L"A\u00e9\U0001F600", units));
  EXPECT_EQ(units, (std::u16string{u'A', 0x00E9, 0xD83D, 0xDE00}));
  EXPECT_EQ(EncodeNameBlock(units), (Bytes{4, 0, 0, 0, 'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE}));

  const Bytes block = EncodeNameBlock(units);
  std::wstring name;
  ASSERT_EQ(DecodeNameBlock(block.data(), block.size(), name), NameBlockStatus::NAME_OK);
  EXPECT_EQ(name, L"A\u00e9\U0001F600");
}

TEST(ArchiveEntryName, DecodingReportsWhatIsWrongAndKeepsWhatIsThere) {
  std::wstring name;
  const Bytes missingCount = {1, 0};
  EXPECT_EQ(DecodeNameBlock(missingCount.data(), missingCount.size(), name), NameBlockStatus::NAME_NO_COUNT);
  const Bytes overCounted = {3, 0, 0, 0, 'a', 0};
  EXPECT_EQ(DecodeNameBlock(overCounted.data(), overCounted.size(), name),
            NameBlockStatus::NAME_COUNT_MISMATCH);
  EXPECT_EQ(name, L"a");
  const Bytes trailing = {1, 0, 0, 0, 'a', 0, 'b'};
  EXPECT_EQ(DecodeNameBlock(trailing.data(), trailing.size(), name), NameBlockStatus::NAME_COUNT_MISMATCH);
  const Bytes tooLong = {0x00, 0x80, 0, 0, 'a', 0};
  EXPECT_EQ(DecodeNameBlock(tooLong.data(), tooLong.size(), name), NameBlockStatus::NAME_TOO_LONG);
  const Bytes loneLow = {1, 0, 0, 0, 0x00, 0xDC};
  EXPECT_EQ(DecodeNameBlock(loneLow.data(), loneLow.size(), name), NameBlockStatus::NAME_BAD_UTF16);
  EXPECT_EQ(name, L"?");
}

TEST(ArchiveEntryName, CodePointsUtf16CannotCarryAreNotEncoded) {
  std::u16string units;
  if constexpr (sizeof(wchar_t) == 4) {
    EXPECT_FALSE(EncodeUtf16(std::wstring(1, static_cast<wchar_t>(0xD800)), units));
    EXPECT_FALSE(EncodeUtf16(std::wstring(1, static_cast<wchar_t>(0x110000)), units));
  }
  EXPECT_TRUE(EncodeUtf16(L"\U0010FFFF", units));
  EXPECT_EQ(units, (std::u16string{0xDBFF, 0xDFFF}));
}

TEST(ArchiveEntryName, TheLastComponentDecidesFolderOrFile) {
  EXPECT_TRUE(IsFolderEntryName(L".\\data"));
  EXPECT_TRUE(IsFolderEntryName(L".\\data\\bin"));
  EXPECT_TRUE(IsFolderEntryName(L".\\README"));
  EXPECT_TRUE(IsFolderEntryName(L".\\v1.2\\"));
  EXPECT_TRUE(IsFolderEntryName(L"a.b/c"));
  EXPECT_TRUE(IsFolderEntryName(L""));
  EXPECT_FALSE(IsFolderEntryName(L".\\data\\bin\\x.dll.diff"));
  EXPECT_FALSE(IsFolderEntryName(L".\\addedFiles.txt"));
  EXPECT_FALSE(IsFolderEntryName(L"Launcher-diff.exe"));
  EXPECT_FALSE(IsFolderEntryName(L"."));
}

}  // namespace
