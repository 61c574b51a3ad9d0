// The added files' permissions carried in "fileModes.txt", and the order
// in which the engine rebuilds the launchers.
#include "patch/FileModes.h"

#include <gtest/gtest.h>

#include "patch/PatchLists.h"

namespace {

TEST(FileModes, RoundTripWithoutSpecialBitsAndCaseFreeKeys) {
  const std::string text = NolkPatch::FormatFileModes({{L"bin\\Tool.exe", 04755}, {L"data\\a b.dat", 0644}});
  NolkPatch::FileModes modes;
  ASSERT_TRUE(NolkPatch::ParseFileModes(text, modes));
  ASSERT_EQ(modes.size(), 2u);
  EXPECT_EQ(modes.at(L"bin\\tool.exe"), 0755u) << "set-user-id never comes from an archive";
  EXPECT_EQ(modes.at(L"data\\a b.dat"), 0644u);
}

TEST(FileModes, MalformedLinesAreRefused) {
  NolkPatch::FileModes modes;
  for (const char* text :
       {"0755\r\n", "rwx bin\\a.exe\r\n", "0789 bin\\a.exe\r\n", "0755 \r\n", "12345670 a\r\n"})
    EXPECT_FALSE(NolkPatch::ParseFileModes(text, modes)) << text;
  EXPECT_TRUE(NolkPatch::ParseFileModes("", modes));
  EXPECT_TRUE(modes.empty());
}

TEST(LauncherOrder, TheBuildsLauncherGoesLastBehindTheNolkLauncher) {
  std::vector<NolkPatch::FileListEntry> entries;
  for (const wchar_t* path : {L"bin/launcher.EXE", L"bin\\NolkLauncher.exe", L"data\\a.dat", L"bin\\b.dll"})
    entries.push_back({path, L"", L""});
  NolkPatch::HoldBackEntry(entries, L"NolkLauncher.exe");
  NolkPatch::HoldBackBuildLauncher(entries);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].path, L"data\\a.dat");
  EXPECT_EQ(entries[2].path, L"bin\\NolkLauncher.exe");
  EXPECT_EQ(entries[3].path, L"bin/launcher.EXE");
}

}  // namespace
