// Whole patches: two installation trees, the archive the publisher's
// builder makes of them, unpacked and applied with the real diff tool and
// the converter stand-in; the result must be the new tree byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "TreeSnapshot.h"
#include "patch/PatchArchive.h"
#include "patch/PatchGuard.h"
#include "tools/publisher/ArchiveBuilder.h"

namespace {

using namespace enginetest;

std::string Pattern(const std::string& seed, std::size_t length) {
  std::string bytes;
  for (std::size_t index = 0; bytes.size() < length; ++index)
    bytes += seed + std::to_string(index * 7919 % 1000);
  bytes.resize(length);
  return bytes;
}

class EndToEndTest : public EngineTest {
 protected:
  void BuildTrees(bool withConverter) {
    const fs::path oldTree = m_root / "old";
    const fs::path newTree = m_root / "new";
    for (const fs::path& tree : {oldTree, newTree}) {
      fs::create_directories(tree / "bin");
      fs::copy_file(VPATCH_TOOL, tree / "bin" / "vpatchl-w32.exe");
      if (withConverter) fs::copy_file(VACONVERTER_TOOL, tree / "bin" / "VAConverter.exe");
      WriteBytes(tree / "readme.txt", "unchanged notes");
    }
    WriteBytes(oldTree / "bin" / "Launcher.exe", Pattern("launcher-1-", 20000));
    WriteBytes(newTree / "bin" / "Launcher.exe", Pattern("launcher-2-", 21000));
    WriteBytes(oldTree / "bin" / "NolkLauncher.exe", Pattern("nolk-1-", 9000));
    WriteBytes(newTree / "bin" / "NolkLauncher.exe", Pattern("nolk-2-", 9500));
    WriteBytes(oldTree / "data" / "maps" / "forest" / "level1.map", Pattern("forest-", 50000));
    WriteBytes(newTree / "data" / "maps" / "forest" / "level1.map", Pattern("forest-", 50000) + "more trees");
    WriteBytes(oldTree / "data" / "old" / "obsolete.dat", "goes away");
    fs::create_directories(newTree / "data" / "old");  // the engine removes files, never folders
    WriteBytes(newTree / "data" / "maps" / "desert" / "dunes.map", Pattern("desert-", 3000));
    WriteBytes(newTree / "bin" / "NewTool.dll", Pattern("tool-", 4000));
    WriteBytes(oldTree / "assets" / "Base.va", Pattern("archive-a-", 30000));
    WriteBytes(newTree / "assets" / "Base.va", Pattern("archive-b-", 30000));
    WriteBytes(oldTree / "docs" / "x.var.va", "general entry 1");
    WriteBytes(newTree / "docs" / "x.var.va", "general entry 2");
    fs::remove_all(m_install);
    fs::copy(oldTree, m_install, fs::copy_options::recursive);
    m_new = TakeSnapshot(newTree);
  }

  void BuildAndUnpack() {
    KorvelTools::ArchiveBuildOptions options;
    options.oldTree = Wide(m_root / "old");
    options.newTree = Wide(m_root / "new");
    options.archivePath = Wide(m_root / "patch.arc");
    const KorvelTools::PublisherResult built = KorvelTools::BuildPatchArchive(options);
    ASSERT_TRUE(built.Ok()) << built.message;
    fs::remove_all(m_patch);
    fs::create_directories(m_patch);
    ASSERT_TRUE(NolkPatch::UnpackPatchArchive(options.archivePath, Wide(m_patch)));
  }

  void ExpectNewTree() {
    const TreeSnapshot after = TakeSnapshot(m_install);
    EXPECT_EQ(after, m_new) << DescribeDifferences(m_new, after);
  }

  int CountMessages(int level, const std::wstring& start) const {
    int count = 0;
    for (const auto& [messageLevel, text] : m_messages)
      count += messageLevel == level && text.rfind(start, 0) == 0;
    return count;
  }

  TreeSnapshot m_new;
};

TEST_F(EndToEndTest, PatchWithConverterGivesTheNewTreeAndAppliesAgainAsAlreadyPatched) {
  BuildTrees(true);
  BuildAndUnpack();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewTree();
  EXPECT_EQ(PatchingFlag(), std::nullopt);
  EXPECT_EQ(CountMessages(2, L""), 0);

  m_messages.clear();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewTree();
  // Every changed file is recognised, the converter's archive too.
  EXPECT_EQ(CountMessages(1, L"Existing file appears to have been patched already: "), 5);
}

TEST_F(EndToEndTest, PatchWithoutConverterUsesTheGeneralDiffForArchives) {
  BuildTrees(false);
  BuildAndUnpack();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewTree();

  m_messages.clear();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  ExpectNewTree();
  EXPECT_EQ(CountMessages(1, L"Existing file appears to have been patched already: "), 5);
}

TEST_F(EndToEndTest, MissingDiffWithTheRealToolRollsBack) {
  BuildTrees(false);
  BuildAndUnpack();
  fs::remove(m_patch / "data" / "docs" / "x.var.va.diff");
  const TreeSnapshot before = TakeSnapshot(m_install);
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  const TreeSnapshot after = TakeSnapshot(m_install);
  EXPECT_EQ(after, before) << DescribeDifferences(before, after);
  EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
  EXPECT_EQ(CountMessages(2, L"Could not open patch file docs\\x.var.va for reading."), 1);
}

}  // namespace
