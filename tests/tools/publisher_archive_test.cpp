// The archive builder on a small installation: what the lists say, which
// entries the archive holds and in what order, and that the unpacked
// payload really turns the old tree into the new one.
#include <algorithm>
#include <map>
#include <set>

#include "patch/PatchArchive.h"
#include "publisher_test_support.h"
#include "tools/diff/ZstdDiff.h"
#include "tools/publisher/ArchiveBuilder.h"
#include "tools/publisher/FileLists.h"

namespace PublisherTest {
namespace {

namespace fs = std::filesystem;
using KorvelTools::ArchiveBuildOptions;
using KorvelTools::BuildPatchArchive;
using KorvelTools::PublisherResult;

struct ListEntry {
  std::string path, newMd5, oldMd5;
};

// Splits a list at CR LF and groups the lines by three; fails the test on
// any other line end or a partial group.
std::vector<ListEntry> ParseList(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(lines.size() % 3, 0u);
  std::vector<ListEntry> entries;
  for (std::size_t i = 0; i + 2 < lines.size(); i += 3)
    entries.push_back({lines[i], lines[i + 1], lines[i + 2]});
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos);
  return entries;
}

class ArchiveBuilderTest : public PublisherFolderTest {
 protected:
  void SetUp() override {
    PublisherFolderTest::SetUp();
    const Bytes asset = ProgramLike(20000, 1);
    Bytes changedAsset = asset;
    changedAsset.insert(changedAsset.begin() + 5000, 300, 0x5A);
    Pair("bin/Launcher.exe", ProgramLike(3000, 2), ProgramLike(3100, 3));
    Pair("bin/VAConverter.exe", BytesOf("converter 1"), BytesOf("converter 2"));
    Pair("NolkLauncher.exe", BytesOf("launcher 1"), BytesOf("launcher 2"));
    Pair("data/Base.va", asset, changedAsset);
    Pair("data/a.var.va", BytesOf("var 1"), BytesOf("var 2"));
    Pair("data/textures/same.dds", ProgramLike(500, 4), ProgramLike(500, 4));
    Pair("readme.txt", BytesOf("same"), BytesOf("same"));
    Write("old/data/sub/gone.dat", "gone");
    Write("old/maps/old.map", "old map");
    Write("new/data/levels/deep/added.lvl", ProgramLike(700, 5));
    Write("new/bin/empty.cfg", Bytes());
    fs::create_directories(m_root / "new/emptyfolder");
  }

  void Pair(const std::string& path, const Bytes& oldBytes, const Bytes& newBytes) {
    Write("old/" + path, oldBytes);
    Write("new/" + path, newBytes);
  }

  PublisherResult Build() { return BuildPatchArchive({Wide("old"), Wide("new"), Wide("patch.arc"), L".va"}); }

  void BuildAndUnpack() {
    const PublisherResult result = Build();
    ASSERT_TRUE(result.Ok()) << result.message;
    ASSERT_TRUE(NolkPatch::UnpackPatchArchive(Wide("patch.arc"), Wide("unpacked")));
  }

  std::vector<ListEntry> List(const char* name) { return ParseList(ReadText(m_root / "unpacked" / name)); }

  std::string Md5OfTree(const std::string& tree, const std::string& path) {
    return Md5Of(ReadFile(m_root / tree / path));
  }
};

TEST_F(ArchiveBuilderTest, AddedAndDeletedListsCarryPathsAndDigests) {
  BuildAndUnpack();
  const std::vector<ListEntry> added = List(KorvelTools::kAddedListName);
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(added[0].path, "bin\\empty.cfg");
  EXPECT_EQ(added[0].newMd5, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(added[1].path, "data\\levels\\deep\\added.lvl");
  EXPECT_EQ(added[1].newMd5, Md5OfTree("new", "data/levels/deep/added.lvl"));
  for (const ListEntry& entry : added) EXPECT_EQ(entry.oldMd5, "");

  const std::vector<ListEntry> deleted = List(KorvelTools::kDeletedListName);
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[0].path, "data\\sub\\gone.dat");
  EXPECT_EQ(deleted[1].path, "maps\\old.map");
  for (const ListEntry& entry : deleted) {
    EXPECT_EQ(entry.newMd5, "");
    EXPECT_EQ(entry.oldMd5, "");
  }
}

TEST_F(ArchiveBuilderTest, PatchedListPutsConverterFirstAndLauncherLast) {
  BuildAndUnpack();
  const std::vector<ListEntry> patched = List(KorvelTools::kPatchedListName);
  std::vector<std::string> paths;
  for (const ListEntry& entry : patched) paths.push_back(entry.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"bin\\VAConverter.exe", "bin\\Launcher.exe", "data\\Base.va",
                                             "data\\a.var.va", "NolkLauncher.exe"}));
  for (const ListEntry& entry : patched) {
    std::string relative = entry.path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    EXPECT_EQ(entry.newMd5, Md5OfTree("new", relative)) << entry.path;
    EXPECT_EQ(entry.oldMd5, Md5OfTree("old", relative)) << entry.path;
  }
}

TEST_F(ArchiveBuilderTest, FolderEntriesComeFirstAndListsLast) {
  ASSERT_TRUE(Build().Ok());
  std::vector<ArchiveEntry> entries;
  ASSERT_TRUE(ReadArchiveEntries(m_root / "patch.arc", entries));
  const auto firstFile =
      std::find_if(entries.begin(), entries.end(), [](const auto& e) { return !e.isFolder; });
  std::vector<std::wstring> folders;
  for (auto entry = entries.begin(); entry != firstFile; ++entry) folders.push_back(entry->name);
  EXPECT_EQ(folders, (std::vector<std::wstring>{L".\\data", L".\\data\\bin", L".\\data\\data",
                                                L".\\data\\data\\levels", L".\\data\\data\\levels\\deep"}));
  EXPECT_TRUE(std::none_of(firstFile, entries.end(), [](const auto& e) { return e.isFolder; }));
  // The three lists, then the added files' permissions.
  ASSERT_GE(entries.size(), 4u);
  EXPECT_EQ(entries[entries.size() - 4].name, L".\\addedFiles.txt");
  EXPECT_EQ(entries[entries.size() - 3].name, L".\\deletedFiles.txt");
  EXPECT_EQ(entries[entries.size() - 2].name, L".\\patchedFiles.txt");
  EXPECT_EQ(entries[entries.size() - 1].name, L".\\fileModes.txt");
}

TEST_F(ArchiveBuilderTest, CarriesOnlyNewFilesAndDiffs) {
  ASSERT_TRUE(Build().Ok());
  std::vector<ArchiveEntry> entries;
  ASSERT_TRUE(ReadArchiveEntries(m_root / "patch.arc", entries));
  std::set<std::wstring> files;
  for (const ArchiveEntry& entry : entries)
    if (!entry.isFolder && entry.name.rfind(L".\\data\\", 0) == 0) files.insert(entry.name);
  // a.var.va is not a converter file (its first ".va" is not at the end).
  EXPECT_EQ(files,
            (std::set<std::wstring>{L".\\data\\bin\\empty.cfg", L".\\data\\data\\levels\\deep\\added.lvl",
                                    L".\\data\\bin\\VAConverter.exe.diff", L".\\data\\bin\\Launcher.exe.diff",
                                    L".\\data\\data\\Base.va.diff", L".\\data\\data\\Base-diff.va",
                                    L".\\data\\data\\a.var.va.diff", L".\\data\\NolkLauncher.exe.diff"}));
}

TEST_F(ArchiveBuilderTest, UnpackedPayloadTurnsTheOldTreeIntoTheNewOne) {
  BuildAndUnpack();
  const fs::path work = m_root / "work";
  fs::copy(m_root / "old", work, fs::copy_options::recursive);
  const fs::path payload = m_root / "unpacked" / "data";
  auto native = [](std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  };
  for (const ListEntry& entry : List(KorvelTools::kAddedListName)) {
    fs::create_directories((work / native(entry.path)).parent_path());
    fs::copy_file(payload / native(entry.path), work / native(entry.path));
  }
  for (const ListEntry& entry : List(KorvelTools::kDeletedListName))
    EXPECT_TRUE(fs::remove(work / native(entry.path)));
  for (const ListEntry& entry : List(KorvelTools::kPatchedListName)) {
    const fs::path target = work / native(entry.path);
    std::vector<std::uint8_t> rebuilt;
    ASSERT_EQ(
        KorvelTools::ApplyDiff(ReadFile(target), ReadFile(payload / (native(entry.path) + ".diff")), rebuilt),
        KorvelTools::DiffResult::Ok)
        << entry.path;
    std::ofstream(target, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(rebuilt.data()), static_cast<std::streamsize>(rebuilt.size()));
  }
  std::map<std::string, Bytes> expected, actual;
  for (const auto& file : fs::recursive_directory_iterator(m_root / "new"))
    if (file.is_regular_file())
      expected[fs::relative(file.path(), m_root / "new").string()] = ReadFile(file.path());
  for (const auto& file : fs::recursive_directory_iterator(work))
    if (file.is_regular_file()) actual[fs::relative(file.path(), work).string()] = ReadFile(file.path());
  EXPECT_EQ(actual, expected);
}

TEST_F(ArchiveBuilderTest, ConverterDiffIsTheSameDiffUnderTheConverterName) {
  BuildAndUnpack();
  const fs::path data = m_root / "unpacked" / "data" / "data";
  EXPECT_EQ(ReadFile(data / "Base-diff.va"), ReadFile(data / "Base.va.diff"));
  std::vector<std::uint8_t> rebuilt;
  ASSERT_EQ(
      KorvelTools::ApplyDiff(ReadFile(m_root / "old/data/Base.va"), ReadFile(data / "Base-diff.va"), rebuilt),
      KorvelTools::DiffResult::Ok);
  EXPECT_EQ(rebuilt, ReadFile(m_root / "new/data/Base.va"));
}

TEST_F(ArchiveBuilderTest, LeavesOutFoldersThatLeadToNoPayload) {
  BuildAndUnpack();
  const fs::path data = m_root / "unpacked" / "data";
  EXPECT_FALSE(fs::exists(data / "emptyfolder"));
  EXPECT_FALSE(fs::exists(data / "data" / "sub"));
  EXPECT_FALSE(fs::exists(data / "data" / "textures"));
  EXPECT_FALSE(fs::exists(data / "readme.txt"));
  EXPECT_TRUE(fs::exists(data / "bin" / "empty.cfg"));
  EXPECT_EQ(fs::file_size(data / "bin" / "empty.cfg"), 0u);
}

TEST_F(ArchiveBuilderTest, WithoutConverterExtensionCarriesOnlyGeneralDiffs) {
  ASSERT_TRUE(BuildPatchArchive({Wide("old"), Wide("new"), Wide("patch.arc"), L""}).Ok());
  ASSERT_TRUE(NolkPatch::UnpackPatchArchive(Wide("patch.arc"), Wide("unpacked")));
  EXPECT_TRUE(fs::exists(m_root / "unpacked/data/data/Base.va.diff"));
  EXPECT_FALSE(fs::exists(m_root / "unpacked/data/data/Base-diff.va"));
}

TEST_F(ArchiveBuilderTest, IdenticalTreesAllowedGiveEmptyListsAndNoPayload) {
  const PublisherResult result =
      BuildPatchArchive({Wide("old"), Wide("old"), Wide("patch.arc"), L".va", true});
  ASSERT_TRUE(result.Ok()) << result.message;
  std::vector<ArchiveEntry> entries;
  ASSERT_TRUE(ReadArchiveEntries(m_root / "patch.arc", entries));
  ASSERT_EQ(entries.size(), 3u);
  for (const ArchiveEntry& entry : entries) EXPECT_TRUE(entry.content.empty()) << OS::ToUtf8(entry.name);
}

TEST_F(ArchiveBuilderTest, IdenticalTreesAreRefusedByDefault) {
  Write("patch.arc", "older archive");
  const PublisherResult result = BuildPatchArchive({Wide("old"), Wide("old"), Wide("patch.arc")});
  EXPECT_EQ(result.status, KorvelTools::PublisherStatus::Refused) << result.message;
  EXPECT_EQ(ReadText(m_root / "patch.arc"), "older archive");
}

TEST_F(ArchiveBuilderTest, ReplacesAnOlderArchiveAndLeavesNoTemporaryFile) {
  Write("patch.arc", "stale");
  ASSERT_TRUE(Build().Ok());
  EXPECT_NE(ReadText(m_root / "patch.arc"), "stale");
  for (const auto& entry : fs::directory_iterator(m_root))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
}

}  // namespace
}  // namespace PublisherTest
