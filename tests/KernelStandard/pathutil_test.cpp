#include "KernelStandard/PathUtil.h"

#include <gtest/gtest.h>

using namespace NolkUtil;

TEST(PathUtilNormalizeSeparators, TurnsEverySeparatorIntoTheGivenOne) {
  EXPECT_EQ(NormalizeSeparators(L"a/b\\c//d"), L"a\\b\\c\\\\d");
  EXPECT_EQ(NormalizeSeparators(L"a\\b/c", L'/'), L"a/b/c");
  EXPECT_EQ(NormalizeSeparators(L"plain"), L"plain");
}

TEST(PathUtilJoinPath, JoinsWithOneSeparator) {
  EXPECT_EQ(JoinPath(L"", L"\\x"), L"\\x");  // empty base keeps the tail as it is
  EXPECT_EQ(JoinPath(L"a", L"\\x"), L"a/x");
  EXPECT_EQ(JoinPath(L"a\\", L"x"), L"a\\x");
  EXPECT_EQ(JoinPath(L"a/", L"/\\/x/y"), L"a/x/y");
  EXPECT_EQ(JoinPath(L"a", L"x"), L"a/x");
}

TEST(PathUtilJoinPath, EmptyOrSeparatorOnlyTailGivesTrailingSeparator) {
  EXPECT_EQ(JoinPath(L"a", L""), L"a/");
  EXPECT_EQ(JoinPath(L"a", L"\\\\"), L"a/");
  EXPECT_EQ(JoinPath(L"a\\", L""), L"a\\");
}

TEST(PathUtilHasExtension, ComparesTheLastComponentsExtensionWithoutCase) {
  EXPECT_TRUE(HasExtension(L"x.TXT", L".txt"));
  EXPECT_TRUE(HasExtension(L"dir\\x.txt", L"TXT"));
  EXPECT_TRUE(HasExtension(L"x.tar.gz", L"gz"));
  EXPECT_FALSE(HasExtension(L"x.tar.gz", L"tar.gz"));
  EXPECT_FALSE(HasExtension(L"x.txt", L"tx"));
  EXPECT_FALSE(HasExtension(L"x.txt", L"txtx"));
}

TEST(PathUtilHasExtension, DotBeforeTheLastSeparatorDoesNotCount) {
  EXPECT_FALSE(HasExtension(L"a.b\\readme", L"b"));
  EXPECT_FALSE(HasExtension(L"a.b/readme", L"b"));
  EXPECT_TRUE(HasExtension(L"a.b/readme", L""));
}

TEST(PathUtilHasExtension, EmptyExtensionMatchesOnlyPathsWithoutOne) {
  EXPECT_TRUE(HasExtension(L"readme", L""));
  EXPECT_TRUE(HasExtension(L"readme", L"."));
  EXPECT_FALSE(HasExtension(L"readme", L"txt"));
  EXPECT_FALSE(HasExtension(L"x.txt", L""));
  EXPECT_FALSE(HasExtension(L"x.", L""));  // a trailing dot still marks an extension
}

TEST(PathUtilStripExtension, RemovesOnlyTheLastExtensionOfTheLastComponent) {
  EXPECT_EQ(StripExtension(L"dir\\x.tar.gz"), "dir\\x.tar");
  EXPECT_EQ(StripExtension(L"a.b\\readme"), "a.b\\readme");
  EXPECT_EQ(StripExtension(L"a.b/readme"), "a.b/readme");
  EXPECT_EQ(StripExtension(L"x."), "x");
  EXPECT_EQ(StripExtension(L""), "");
}

TEST(PathUtilStripExtension, ResultIsTheEightBitForm) {
  EXPECT_EQ(StripExtension(L"d\u00e9j\u00e0.txt"), "d?j?");
  EXPECT_EQ(StripExtension(L"\u201cq\u201d.txt"), "\x93q\x94");
}

TEST(PathUtilGetExtension, GivesTheTextAfterTheLastDot) {
  EXPECT_EQ(GetExtension(L"x.TXT"), "TXT");
  EXPECT_EQ(GetExtension(L"dir.d/x.tar.gz"), "gz");
  EXPECT_EQ(GetExtension(L"dir.d/readme"), "");
  EXPECT_EQ(GetExtension(L"x."), "");
}

TEST(PathUtilFileNamePart, GivesTheTextAfterTheLastSeparator) {
  EXPECT_EQ(FileNamePart(L"a/b\\c.txt"), "c.txt");
  EXPECT_EQ(FileNamePart(L"a\\b/c.txt"), "c.txt");
  EXPECT_EQ(FileNamePart(L"c.txt"), "c.txt");
  EXPECT_EQ(FileNamePart(L"a\\"), "");
  EXPECT_EQ(FileNamePart(L"a/\u0416.txt"), "?.txt");
}

TEST(PathUtilRelativePath, RemovesTheBaseAndOneSeparator) {
  EXPECT_EQ(RelativePath(L"C:/game", L"C:\\game\\bin\\x.dll"), L"bin\\x.dll");
  EXPECT_EQ(RelativePath(L"C:\\game\\", L"C:/game/bin/x.dll"), L"bin\\x.dll");
  EXPECT_EQ(RelativePath(L"/opt/game", L"/opt/game//data"), L"\\data");  // only one separator is skipped
}

TEST(PathUtilRelativePath, ComparesCharactersExactly) {
  EXPECT_EQ(RelativePath(L"C:\\Game", L"C:\\game\\x"), L"game\\x");
  EXPECT_EQ(RelativePath(L"C:\\game", L"C:\\game"), L"");
  EXPECT_EQ(RelativePath(L"C:\\game\\bin", L"C:\\game"), L"");
  EXPECT_EQ(RelativePath(L"", L"a/b"), L"a\\b");
  EXPECT_EQ(RelativePath(L"x", L""), L"");
}
