// What the archive builder refuses because the archive format or the file
// lists cannot carry it, and that a refusal leaves no output behind.
#include "publisher_test_support.h"
#include "tools/publisher/ArchiveBuilder.h"
#include "tools/publisher/FileLists.h"
#include "tools/publisher/PublisherCommands.h"

namespace PublisherTest {
namespace {

namespace fs = std::filesystem;
using KorvelTools::PublisherResult;
using KorvelTools::PublisherStatus;

class ArchiveRefusalTest : public PublisherFolderTest {
 protected:
  void SetUp() override {
    PublisherFolderTest::SetUp();
    Write("old/bin/Launcher.exe", "launcher 1");
    Write("new/bin/Launcher.exe", "launcher 2");
  }

  PublisherResult Build(const std::wstring& extension = L".va") {
    return KorvelTools::BuildPatchArchive({Wide("old"), Wide("new"), Wide("patch.arc"), extension});
  }

  // Refused with a message naming `detail`, and nothing written.
  void ExpectRefused(const std::string& detail, const std::wstring& extension = L".va") {
    const PublisherResult result = Build(extension);
    EXPECT_EQ(result.status, PublisherStatus::Refused) << result.message;
    EXPECT_EQ(KorvelTools::ExitCodeFor(result), 2);
    EXPECT_NE(result.message.find(detail), std::string::npos) << result.message;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 2)
        << "output left behind";
  }
};

TEST_F(ArchiveRefusalTest, AddedFileWithoutDotWouldUnpackAsFolder) {
  Write("new/docs/README", "read me");
  ExpectRefused("docs\\README");
}

TEST_F(ArchiveRefusalTest, ChangedFileWithoutDotTravelsAsItsDiff) {
  Write("old/bin/tool", "tool 1");
  Write("new/bin/tool", "tool 2");
  const PublisherResult result = Build();
  ASSERT_TRUE(result.Ok()) << result.message;
  std::vector<ArchiveEntry> entries;
  ASSERT_TRUE(ReadArchiveEntries(m_root / "patch.arc", entries));
  EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const ArchiveEntry& e) {
    return e.name == L".\\data\\bin\\tool.diff" && !e.isFolder;
  }));
}

TEST_F(ArchiveRefusalTest, FolderWithDotOnTheWayToPayloadWouldUnpackAsFile) {
  Write("new/data/v1.2/map.dat", "map");
  ExpectRefused("v1.2");
}

TEST_F(ArchiveRefusalTest, FolderWithDotHoldingOnlyUnchangedFilesIsFine) {
  Write("old/data/v1.2/map.dat", "map");
  Write("new/data/v1.2/map.dat", "map");
  EXPECT_TRUE(Build().Ok());
}

TEST_F(ArchiveRefusalTest, NameOutsideTheEightBitListsIsRefused) {
  Write("new/data/\xd0\xba\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0.dat", "Cyrillic name");
  ExpectRefused("cannot be written in the 8-bit file lists");
}

TEST_F(ArchiveRefusalTest, DeletedNameOutsideTheEightBitListsIsRefused) {
  Write("old/data/\xe6\x97\xa5.dat", "CJK name");
  ExpectRefused("8-bit");
}

TEST_F(ArchiveRefusalTest, NameWithLineBreakWouldBreakTheLists) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux only: Windows file names cannot hold a line break";
#endif
  Write("new/data/two\nlines.dat", "x");
  ExpectRefused("8-bit");
}

TEST_F(ArchiveRefusalTest, WindowsTypographicCharactersAreListable) {
  Write("new/data/\xc2\xabquoted\xc2\xbb \xe2\x80\x93 dash.dat", "x");
  const PublisherResult result = Build();
  ASSERT_TRUE(result.Ok()) << result.message;
}

TEST_F(ArchiveRefusalTest, FileThatBecomesFolderIsRefused) {
  Write("old/data/pack.dat", "file");
  Write("new/data/pack.dat/inner.dat", "now a folder");
  ExpectRefused("file becomes a folder");
}

TEST_F(ArchiveRefusalTest, NamesDifferingOnlyInCaseAreRefused) {
  Write("old/data/Map.dat", "old");
  Write("new/data/map.dat", "new");
  ExpectRefused("differ only in case");
}

TEST_F(ArchiveRefusalTest, NewFileNamedLikeADiffCollidesWithIt) {
  Write("old/bin/x.dll", "x 1");
  Write("new/bin/x.dll", "x 2");
  Write("new/bin/x.dll.diff", "a shipped file that happens to have this name");
  ExpectRefused("same name");
}

TEST_F(ArchiveRefusalTest, NewFileNamedLikeAConverterDiffCollidesWithIt) {
  Write("old/data/Base.va", "asset 1");
  Write("new/data/Base.va", "asset 2");
  Write("new/data/Base-diff.va", "new asset");
  ExpectRefused("same name");
}

TEST_F(ArchiveRefusalTest, NameWithColonIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux only: on Windows a colon in a file name names a data stream, so no such file can "
                  "be made to refuse";
#endif
  Write("new/data/a:b.dat", "stream-like name");
  ExpectRefused("a:b.dat");
}

TEST_F(ArchiveRefusalTest, BadConverterExtensionIsRefused) {
  ExpectRefused("converter extension", L"va");
  ExpectRefused("converter extension", L".v.a");
}

TEST_F(ArchiveRefusalTest, MissingTreeIsRefused) {
  const PublisherResult result =
      KorvelTools::BuildPatchArchive({Wide("nowhere"), Wide("new"), Wide("patch.arc")});
  EXPECT_EQ(result.status, PublisherStatus::Refused);
  EXPECT_FALSE(fs::exists(m_root / "patch.arc"));
}

TEST_F(ArchiveRefusalTest, RefusalKeepsAnOlderArchive) {
  Write("patch.arc", "older archive");
  Write("new/README", "no dot");
  EXPECT_EQ(Build().status, PublisherStatus::Refused);
  EXPECT_EQ(ReadText(m_root / "patch.arc"), "older archive");
}

TEST_F(ArchiveRefusalTest, CommandLineExitCodes) {
  const std::string root = m_root.string();
  EXPECT_EQ(KorvelTools::RunMakePatch({"--old", root + "/old", "--new", root + "/new"}), 2);
  EXPECT_EQ(KorvelTools::RunMakePatch({"--old", root + "/old", "--new", root + "/new", "--out"}), 2);
  EXPECT_EQ(KorvelTools::RunMakePatch({"--bogus", "x"}), 2);
  EXPECT_FALSE(fs::exists(m_root / "patch.arc"));
  EXPECT_EQ(KorvelTools::RunMakePatch({"--old", root + "/old", "--new", root + "/new", "--out",
                                       root + "/patch.arc", "--converter-ext", ".va"}),
            0);
  EXPECT_TRUE(fs::exists(m_root / "patch.arc"));
}

TEST(PatchedListOrder, LauncherGoesFirstAmongEntriesNamingIt) {
  std::vector<KorvelTools::FileChange> changed = {{L"NolkLauncher.exe.cfg", "n1", "o1"},
                                                  {L"bin\\a.dll", "n2", "o2"},
                                                  {L"NolkLauncher.exe", "n3", "o3"},
                                                  {L"bin\\VAConverter.exe", "n4", "o4"},
                                                  {L"data\\NolkLauncher.exe.txt", "n5", "o5"}};
  std::vector<std::string> warnings;
  const auto ordered = KorvelTools::OrderPatchedList(changed, warnings);
  std::vector<std::wstring> paths;
  for (const auto& entry : ordered) paths.push_back(entry.path);
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"bin\\VAConverter.exe", L"bin\\a.dll", L"NolkLauncher.exe",
                                              L"NolkLauncher.exe.cfg", L"data\\NolkLauncher.exe.txt"}));
  EXPECT_EQ(warnings.size(), 1u);
}

TEST(PatchedListOrder, LoneLauncherIsLastWithoutWarning) {
  std::vector<std::string> warnings;
  const auto ordered = KorvelTools::OrderPatchedList(
      {{L"NolkLauncher.exe", "n", "o"}, {L"zz\\last.dat", "n", "o"}, {L"a.dat", "n", "o"}}, warnings);
  ASSERT_EQ(ordered.size(), 3u);
  EXPECT_EQ(ordered.back().path, L"NolkLauncher.exe");
  EXPECT_TRUE(warnings.empty());
}

TEST(FileListText, GroupsOfThreeLinesWithCrLf) {
  EXPECT_EQ(KorvelTools::FormatFileList({{L"bin\\x.dll", "new", "old"}, {L"gone.txt", "", ""}}),
            "bin\\x.dll\r\nnew\r\nold\r\ngone.txt\r\n\r\n\r\n");
  EXPECT_EQ(KorvelTools::FormatFileList({{L"\u2013.txt", "", ""}}), "\x96.txt\r\n\r\n\r\n");
}

}  // namespace
}  // namespace PublisherTest
