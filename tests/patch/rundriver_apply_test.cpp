// UnpackAndApply: one archive unpacked into a fresh folder and applied to
// the installation, with the progress animation around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "KernelStandard/platform/FaultInjection.h"
#include "TreeSnapshot.h"
#include "patch/PatchSettings.h"
#include "patch/ProgressAnimation.h"
#include "patch/RunDriver.h"
#include "rundriver_test_support.h"
#include "tools/publisher/ArchiveBuilder.h"

namespace {

using namespace rundrivertest;

const std::wstring kUnpacking = L"Unpacking patch file...";
const std::wstring kPatching = L"Patching...\n";

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Filler(const std::string& seed, std::size_t length) {
  std::string bytes;
  while (bytes.size() < length) bytes += seed + std::to_string(bytes.size());
  bytes.resize(length);
  return bytes;
}

struct AnimationLog {
  int started = 0;
  int stopped = 0;
  int minutes = -1;
  NolkPatch::AnimationKind kind = NolkPatch::AnimationKind::DatabaseRepair;
};

class RecordedAnimation : public NolkPatch::ProgressAnimation {
 public:
  explicit RecordedAnimation(AnimationLog& log) : m_log(log) {}
  void Stop() override { ++m_log.stopped; }

 private:
  AnimationLog& m_log;
};

class UnpackAndApplyTest : public RunDriverTest {
 protected:
  void SetUp() override {
    RunDriverTest::SetUp();
    NolkPatch::SetAnimationFactory([this](NolkPatch::AnimationKind kind, int minutes) {
      ++m_animation.started;
      m_animation.kind = kind;
      m_animation.minutes = minutes;
      return std::make_unique<RecordedAnimation>(m_animation);
    });
    NolkPatch::PatchSettings::Get().SetCurrentVersion("100");
    NolkPatch::PatchSettings::Get().SetTargetVersion("200");
  }
  void TearDown() override {
    NolkPatch::SetAnimationFactory(nullptr);
    RunDriverTest::TearDown();
  }

  // An old and a new tree; the installation starts as a copy of the old one.
  void BuildTrees() {
    for (const char* tree : {"old", "new"}) {
      fs::create_directories(m_root / tree / "bin");
      fs::copy_file(VPATCH_TOOL, m_root / tree / "bin" / "vpatchl-w32.exe");
      WriteText(m_root / tree / "readme.txt", "stays");
    }
    WriteText(m_root / "old" / "bin" / "Launcher.exe", Filler("launcher-1-", 30000));
    WriteText(m_root / "new" / "bin" / "Launcher.exe", Filler("launcher-2-", 31000));
    WriteText(m_root / "old" / "data" / "gone.dat", "removed by the patch");
    fs::create_directories(m_root / "new" / "data");
    WriteText(m_root / "new" / "data" / "added.dat", "brought by the patch");
    fs::remove_all(m_install);
    fs::copy(m_root / "old", m_install, fs::copy_options::recursive);
  }

  fs::path BuildArchive() {
    KorvelTools::ArchiveBuildOptions options;
    options.oldTree = (m_root / "old").wstring();
    options.newTree = (m_root / "new").wstring();
    options.archivePath = (m_root / "patch.zip").wstring();
    const KorvelTools::PublisherResult built = KorvelTools::BuildPatchArchive(options);
    EXPECT_TRUE(built.Ok()) << built.message;
    return options.archivePath;
  }

  AnimationLog m_animation;
};

TEST_F(UnpackAndApplyTest, AppliesTheArchiveAndRemovesTheUnpackFolder) {
  BuildTrees();
  const fs::path archive = BuildArchive();
  ASSERT_EQ(NolkPatch::UnpackAndApply(archive.wstring()), NolkPatch::kUnpackApplied);
  EXPECT_EQ(enginetest::TakeSnapshot(m_install), enginetest::TakeSnapshot(m_root / "new"));
  EXPECT_TRUE(TemporaryFolders().empty());
  EXPECT_TRUE(fs::exists(archive));
  const std::vector<std::wstring> texts = Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.front(), kUnpacking);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), kPatching), 1);
  for (const Message& message : Messages()) EXPECT_NE(message.first, 2) << message.second;
}

TEST_F(UnpackAndApplyTest, TheAnimationRunsForTheArchiveSizeAndIsStopped) {
  const fs::path archive = m_root / "big.zip";
  WriteText(archive, std::string(3 * 1048576 / 2, 'x'));  // 1.5 MiB of junk: 3 minutes
  NolkPatch::UnpackAndApply(archive.wstring());
  EXPECT_EQ(m_animation.started, 1);
  EXPECT_EQ(m_animation.stopped, 1);
  EXPECT_EQ(m_animation.minutes, 3);
  EXPECT_EQ(m_animation.kind, NolkPatch::AnimationKind::Unpack);
}

TEST_F(UnpackAndApplyTest, ArchiveThatDoesNotUnpackIsReportedAndCleanedUp) {
  const fs::path archive = m_root / "broken.zip";
  WriteText(archive, "not an archive");
  EXPECT_EQ(NolkPatch::UnpackAndApply(archive.wstring()), NolkPatch::kUnpackFailed);
  EXPECT_EQ(Messages(),
            (std::vector<Message>{{0, kUnpacking}, {2, L"Failed to extract the patch archive."}}));
  EXPECT_TRUE(TemporaryFolders().empty());
  EXPECT_EQ(m_animation.stopped, 1);
}

TEST_F(UnpackAndApplyTest, FailedApplyNamesThePatchAndLeavesTheOldTree) {
  BuildTrees();
  const fs::path archive = BuildArchive();
  WriteText(m_install / "bin" / "Launcher.exe", "a build the patch was not made for");
  const enginetest::TreeSnapshot before = enginetest::TakeSnapshot(m_install);
  EXPECT_EQ(NolkPatch::UnpackAndApply(archive.wstring()), NolkPatch::kUnpackFailed);
  const std::vector<Message> messages = Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), (Message{2, L"\nFailed to apply the patch: 100_to_200"}));
  const enginetest::TreeSnapshot after = enginetest::TakeSnapshot(m_install);
  EXPECT_EQ(after, before) << enginetest::DescribeDifferences(before, after);
  EXPECT_TRUE(TemporaryFolders().empty());
}

TEST_F(UnpackAndApplyTest, NoTemporaryFolderMeansNothingIsUnpacked) {
  WriteText(m_root / "plainfile", "x");
  UseTemporaryRoot(m_root / "plainfile" / "temp");
  EXPECT_EQ(NolkPatch::UnpackAndApply((m_root / "any.zip").wstring()), NolkPatch::kUnpackNoTempFolder);
  EXPECT_EQ(Messages(), (std::vector<Message>{{2, L"Unable to create temporary directory."}}));
  EXPECT_EQ(m_animation.started, 0);
}

}  // namespace
