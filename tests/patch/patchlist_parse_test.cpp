// The "patches.txt" reader: records, keys and values, line ends, relative
// and absolute data URLs.
#include <gtest/gtest.h>

#include <cstring>

#include "patch/PatchList.h"

namespace {

using NolkPatch::ParsePatchList;
using NolkPatch::PatchMap;

const char* const kRecord =
    "source-version: 100\ntarget-version: 200\npatch-exe-url: http://x/p.exe\npatch-data-url: "
    "100_to_200.zip\n";

TEST(PatchListParse, KeysAreTrimmedAndLowerCasedValuesUnquoted) {
  PatchMap patches;
  ASSERT_TRUE(
      ParsePatchList("Source-Version : 100\nTARGET-VERSION:\"200\"\npatch-exe-url: \"\"x\"\"\n"
                     "patch-data-url:  http://h/a.zip  \nunused: 1\n",
                     L"http://srv/", patches));
  ASSERT_EQ(patches.count("100"), 1u);
  EXPECT_EQ(patches["100"].targetVersion, "200");
  EXPECT_EQ(patches["100"].patchExeUrl, L"\"x\"");
  EXPECT_EQ(patches["100"].patchDataUrl, L"http://h/a.zip");
}

TEST(PatchListParse, EveryLineEndAndManyBlankLinesSeparateRecords) {
  for (const std::string end : {"\n", "\r", "\r\n", "\n\r"}) {
    std::string text = "source-version: 1" + end + "target-version: 2" + end + "patch-exe-url: e" + end +
                       "patch-data-url: http://h/1.zip" + end + end + end + "source-version: 2" + end +
                       "target-version: 3" + end + "patch-exe-url: e" + end + "patch-data-url: ftp://h/2.zip";
    PatchMap patches;
    ASSERT_TRUE(ParsePatchList(text, L"", patches));
    ASSERT_EQ(patches.size(), 2u);
    EXPECT_EQ(patches["1"].targetVersion, "2");
    EXPECT_EQ(patches["2"].patchDataUrl, L"ftp://h/2.zip");
  }
}

TEST(PatchListParse, IncompleteOrSpoiltRecordsAreRejectedOthersKept) {
  PatchMap patches;
  EXPECT_FALSE(
      ParsePatchList("source-version: 1\ntarget-version: 2\npatch-data-url: http://h/a\n", L"", patches));
  EXPECT_FALSE(ParsePatchList(std::string(kRecord) + "a line without colon\n", L"http://srv", patches));
  EXPECT_FALSE(ParsePatchList(
      "source-version: 1\ntarget-version: 2\npatch-exe-url:\npatch-data-url: http://h\n", L"", patches));
  EXPECT_TRUE(patches.empty());
  ASSERT_TRUE(ParsePatchList("broken\n\n" + std::string(kRecord), L"http://srv", patches));
  EXPECT_EQ(patches.size(), 1u);
}

TEST(PatchListParse, RelativeUrlsJoinTheServerAbsoluteOnesStay) {
  PatchMap patches;
  ASSERT_TRUE(ParsePatchList(kRecord, L"http://srv/ombrix", patches));
  EXPECT_EQ(patches["100"].patchDataUrl, L"http://srv/ombrix/100_to_200.zip");
  ASSERT_TRUE(ParsePatchList(kRecord, L"http://srv/ombrix/", patches));
  EXPECT_EQ(patches["100"].patchDataUrl, L"http://srv/ombrix/100_to_200.zip");
  for (const char* url : {"HTTP://h/a.zip", "https://h/a.zip", "Ftp://h/a.zip"}) {
    PatchMap absolute;
    ASSERT_TRUE(ParsePatchList(
        std::string("source-version:1\ntarget-version:2\npatch-exe-url:e\npatch-data-url:") + url,
        L"http://srv/", absolute));
    EXPECT_EQ(absolute["1"].patchDataUrl, std::wstring(url, url + std::strlen(url)));
  }
  PatchMap noServer;
  EXPECT_FALSE(ParsePatchList(kRecord, L"", noServer));
}

TEST(PatchListParse, LaterKeyAndLaterRecordWin) {
  PatchMap patches;
  ASSERT_TRUE(ParsePatchList(std::string(kRecord) + "target-version: 250\n\n" +
                                 "source-version: 100\ntarget-version: 300\npatch-exe-url: e\n"
                                 "patch-data-url: http://h/late.zip\n",
                             L"http://srv", patches));
  EXPECT_EQ(patches["100"].targetVersion, "300");
  EXPECT_EQ(patches["100"].patchDataUrl, L"http://h/late.zip");
}

}  // namespace
