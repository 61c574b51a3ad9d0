#include <gtest/gtest.h>

#include "repair/ExclusionPattern.h"
#include "repair/SafeRelativeName.h"
#include "repair/SegmentKey.h"

namespace {

using NolkUtil::MakeSegmentKey;
using NolkUtil::SplitSegmentKey;

TEST(SegmentKeyTest, IndexHasAtLeastThreeDigits) {
  EXPECT_EQ(MakeSegmentKey(L"bin\\Launcher.exe", 0), L"bin\\Launcher.exe#000");
  EXPECT_EQ(MakeSegmentKey(L"a", 7), L"a#007");
  EXPECT_EQ(MakeSegmentKey(L"a", 999), L"a#999");
  EXPECT_EQ(MakeSegmentKey(L"a", 1000), L"a#1000");
  EXPECT_EQ(MakeSegmentKey(L"a", 1048576), L"a#1048576");
  EXPECT_EQ(MakeSegmentKey(L"a", -5), L"a#-05");  // as printf's %03d
}

TEST(SegmentKeyTest, SegmentCountRoundsUp) {
  EXPECT_EQ(NolkUtil::SegmentCount(0), 0u);
  EXPECT_EQ(NolkUtil::SegmentCount(1), 1u);
  EXPECT_EQ(NolkUtil::SegmentCount(4194304), 1u);
  EXPECT_EQ(NolkUtil::SegmentCount(4194305), 2u);
  EXPECT_EQ(NolkUtil::SegmentCount(std::uint64_t{5} << 30), 1280u);  // 5 GiB
}

TEST(SegmentKeyTest, SplitsAtTheLastMarkOfTheLastComponent) {
  auto parts = SplitSegmentKey(L"data\\maps\\north.map#012");
  EXPECT_EQ(parts.path, L"data\\maps\\north.map");
  EXPECT_EQ(parts.index, 12);
  EXPECT_TRUE(parts.wellFormed);

  // A '#' inside the file or folder name belongs to the path.
  parts = SplitSegmentKey(L"docs#2\\notes#1.txt#1000");
  EXPECT_EQ(parts.path, L"docs#2\\notes#1.txt");
  EXPECT_EQ(parts.index, 1000);

  // No '#' in the last component: the whole key is the path, index 0.
  parts = SplitSegmentKey(L"docs#2\\notes.txt");
  EXPECT_EQ(parts.path, L"docs#2\\notes.txt");
  EXPECT_EQ(parts.index, 0);
  EXPECT_FALSE(parts.wellFormed);
}

TEST(SegmentKeyTest, OddIndexTextsParseButAreNotWellFormed) {
  auto parts = SplitSegmentKey(L"f#-3");
  EXPECT_EQ(parts.index, -3);
  EXPECT_FALSE(parts.wellFormed);
  parts = SplitSegmentKey(L"f#+4");
  EXPECT_EQ(parts.index, 4);
  EXPECT_FALSE(parts.wellFormed);
  parts = SplitSegmentKey(L"f#12x");
  EXPECT_EQ(parts.index, 12);
  EXPECT_FALSE(parts.wellFormed);
  parts = SplitSegmentKey(L"f#");
  EXPECT_EQ(parts.index, 0);
  EXPECT_FALSE(parts.wellFormed);
  parts = SplitSegmentKey(L"f#99999999999999999999999");
  EXPECT_EQ(parts.index, 0);
  EXPECT_FALSE(parts.wellFormed);
  // Digits, but an offset past what a 64-bit position holds.
  EXPECT_FALSE(SplitSegmentKey(L"f#" + std::to_wstring(NolkUtil::kMaxSegmentIndex + 1)).wellFormed);
  EXPECT_TRUE(SplitSegmentKey(L"f#" + std::to_wstring(NolkUtil::kMaxSegmentIndex)).wellFormed);
}

TEST(SegmentKeyTest, OffsetsAreSixtyFourBit) {
  std::uint64_t offset = 0;
  ASSERT_TRUE(NolkUtil::SegmentOffset(1000, offset));
  EXPECT_EQ(offset, 4194304000u);
  ASSERT_TRUE(NolkUtil::SegmentOffset(1024, offset));
  EXPECT_EQ(offset, std::uint64_t{1} << 32);
  EXPECT_FALSE(NolkUtil::SegmentOffset(-1, offset));
  EXPECT_FALSE(NolkUtil::SegmentOffset(NolkUtil::kMaxSegmentIndex + 1, offset));
}

TEST(SafeRelativeNameTest, AcceptsOrdinaryNames) {
  for (const wchar_t* name :
       {L"bin\\Launcher.exe", L"a/b/c.txt", L"data\\.hidden", L".\\x", L"a..b\\c", L"x#1"}) {
    EXPECT_TRUE(NolkUtil::IsSafeRelativeName(name)) << name;
  }
}

TEST(SafeRelativeNameTest, RefusesNamesThatLeaveTheFolder) {
  const std::vector<std::wstring> names = {
      L"",          L"..",          L"..\\x",       L"a\\..\\..\\x", L"a/../x",     L"a\\...\\x",
      L"a\\ ..\\x", L"a\\. \\x",    L"\\x",         L"/etc/passwd",  L"\\\\srv\\s", L"C:\\x",
      L"C:x",       L"file:stream", L"a\\b::$DATA", L"a\\b\x01",     L"bin\\..",    std::wstring(L"a\0b", 3),
  };
  for (const std::wstring& name : names) EXPECT_FALSE(NolkUtil::IsSafeRelativeName(name)) << name.size();
}

TEST(SafeRelativeNameTest, SegmentKeysNeedASafePathAndAPlainIndex) {
  EXPECT_TRUE(NolkUtil::IsSafeSegmentKey(L"bin\\Launcher.exe#000"));
  EXPECT_TRUE(NolkUtil::IsSafeSegmentKey(L"big.dat#1000"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"..\\outside.dll#000"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"C:\\Windows\\x.dll#000"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"a.dat#-1"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"a.dat#1e9"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"a.dat"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"#000"));
  EXPECT_FALSE(NolkUtil::IsSafeSegmentKey(L"bin\\#000"));
}

TEST(ExclusionPatternTest, StarMatchesAnyRunAlsoAcrossSeparators) {
  using NolkUtil::MatchesExclusionPattern;
  EXPECT_TRUE(MatchesExclusionPattern(L"a\\b.log", L"*.log"));
  EXPECT_TRUE(MatchesExclusionPattern(L".log", L"*.log"));
  EXPECT_FALSE(MatchesExclusionPattern(L"a\\b.log.txt", L"*.log"));
  EXPECT_TRUE(MatchesExclusionPattern(L"cache\\x\\y.bin", L"cache\\*"));
  EXPECT_TRUE(MatchesExclusionPattern(L"a_b_c", L"a*b*c"));
  EXPECT_TRUE(MatchesExclusionPattern(L"abcbc", L"a*bc"));
  EXPECT_TRUE(MatchesExclusionPattern(L"anything", L"*"));
  EXPECT_TRUE(MatchesExclusionPattern(L"", L"**"));
  EXPECT_FALSE(MatchesExclusionPattern(L"", L"a*"));
}

TEST(ExclusionPatternTest, OtherCharactersMatchExactlyAndCaseSensitively) {
  using NolkUtil::MatchesExclusionPattern;
  EXPECT_TRUE(MatchesExclusionPattern(L"unins000.exe", L"unins000.exe"));
  EXPECT_FALSE(MatchesExclusionPattern(L"bin\\unins000.exe", L"unins000.exe"));
  EXPECT_FALSE(MatchesExclusionPattern(L"unins000.exe.bak", L"unins000.exe"));
  EXPECT_FALSE(MatchesExclusionPattern(L"UNINS000.EXE", L"unins000.exe"));
  EXPECT_FALSE(MatchesExclusionPattern(L"a.log", L"?.log"));  // no other wildcard
  EXPECT_TRUE(MatchesExclusionPattern(L"?.log", L"?.log"));
}

TEST(ExclusionPatternTest, ManyStarsOnALongNameStayFast) {
  const std::wstring name(20000, L'a');
  const std::wstring pattern = std::wstring(200, L'*') + L"b";
  EXPECT_FALSE(NolkUtil::MatchesExclusionPattern(name, pattern));
  EXPECT_TRUE(NolkUtil::MatchesAnyExclusionPattern(name + L"b", {L"x", pattern}));
}

}  // namespace
