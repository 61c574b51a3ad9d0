// The database rebuild by the game utility: the stand-in utility run on the
// patcher's lend, its output relayed, and the utility that cannot start.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "assetdb_test_support.h"
#include "patch/AssetDatabase.h"
#include "patch/AssetDatabaseBlock.h"
#include "patch/AssetDatabaseRebuild.h"
#include "patch/ProgressAnimation.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

using assetdbtest::AssetDbTest;
using assetdbtest::Message;
using assetdbtest::RawBlock;
using assetdbtest::ThisProcess;
using Block = NolkPatch::AssetDatabaseBlock;
namespace db = NolkPatch;
namespace fs = std::filesystem;

const std::wstring kUpdating = L"\nUpdating Ombrix asset database... (this may take several minutes)";
const std::wstring kLaunchFailed =
    L"Failed to launch OmbrixUtil to repair the Ombrix asset database.\n"
    L"Please repair the database manually from Content Manager.";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records the animations the rebuild starts and stops.
struct AnimationLog {
  static AnimationLog& Get() {
    static AnimationLog log;
    return log;
  }
  std::vector<db::AnimationKind> started;
  int stopped = 0;
};

class RecordedAnimation : public db::ProgressAnimation {
 public:
  void Stop() override { ++AnimationLog::Get().stopped; }
};

class AssetDbRebuildTest : public AssetDbTest {
 protected:
  void SetUp() override {
    AssetDbTest::SetUp();
    AnimationLog::Get() = AnimationLog();
    db::SetAnimationFactory([](db::AnimationKind kind, int) -> std::unique_ptr<db::ProgressAnimation> {
      AnimationLog::Get().started.push_back(kind);
      return std::make_unique<RecordedAnimation>();
    });
    setenv("OMBRIXUTIL_RECORD", (Folder() + "/arguments.txt").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("OMBRIXUTIL_RECORD");
    unsetenv("OMBRIXUTIL_STDOUT_LINES");
    unsetenv("OMBRIXUTIL_STDERR_LINES");
    unsetenv("OMBRIXUTIL_EXIT_CODE");
    db::SetAnimationFactory(nullptr);
    AssetDbTest::TearDown();
  }
  void InstallUtility() {
    const fs::path utility = fs::path(Folder()) / "bin" / "OmbrixUtil.exe";
    fs::copy_file(OMBRIXUTIL_TOOL, utility);
    fs::permissions(utility, fs::perms::owner_all);
  }
  // The text of the messages after the announcement, all of which must be
  // at `level`.
  static std::wstring RelayedText(int level) {
    std::wstring text;
    for (std::size_t i = 1; i < Messages().size(); ++i) {
      EXPECT_EQ(Messages()[i].level, level) << "message " << i;
      text += Messages()[i].text;
    }
    return text;
  }
};

TEST_F(AssetDbRebuildTest, UtilityRunsOnTheLendAndEverythingItPrintsIsRelayed) {
  InstallUtility();
  setenv("OMBRIXUTIL_STDOUT_LINES", "3", 1);
  setenv("OMBRIXUTIL_STDERR_LINES", "2", 1);
  ASSERT_TRUE(db::CheckFilesNotInUse());

  EXPECT_TRUE(db::RebuildAssetDatabase());

  ASSERT_GE(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0].level, 0);
  EXPECT_EQ(Messages()[0].text, kUpdating);
  // Both of the utility's streams arrive on its one output pipe, in the
  // order it wrote them, as information.
  EXPECT_EQ(RelayedText(0),
            L"OmbrixUtil: joined the asset database, owner yes\n"
            L"OmbrixUtil: output line 1\nOmbrixUtil: error line 1\n"
            L"OmbrixUtil: output line 2\nOmbrixUtil: error line 2\n"
            L"OmbrixUtil: output line 3\n");
  EXPECT_EQ(ReadFile(Folder() + "/arguments.txt"), "repairdatabase patcher norender\n");
  EXPECT_EQ(ReadFile(Folder() + "/assets.odx"), "ombrix asset index, rebuilt by OmbrixUtil\n");
}

TEST_F(AssetDbRebuildTest, OwnershipComesBackAfterTheUtilityEvenWhenItFails) {
  InstallUtility();
  setenv("OMBRIXUTIL_EXIT_CODE", "7", 1);
  ASSERT_TRUE(db::CheckFilesNotInUse());

  EXPECT_FALSE(db::RebuildAssetDatabase()) << "a failing utility did not rebuild the database";

  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  EXPECT_EQ(raw.Signed(Block::OFFSET_OWNER), ThisProcess());
  EXPECT_EQ(raw.Signed(Block::OFFSET_HOLDER), ThisProcess());
  EXPECT_EQ(raw.Byte(Block::OFFSET_LENDS_OWNERSHIP), 0);
  EXPECT_EQ(raw.Byte(Block::OFFSET_ATTACHED_COUNT), 1) << "the utility left the count as it found it";
  ASSERT_FALSE(Messages().empty());
  EXPECT_EQ(Messages().back().level, 2);
  EXPECT_NE(Messages().back().text.find(L"ended with code 7"), std::wstring::npos);
  ASSERT_EQ(AnimationLog::Get().started.size(), 1u);
  EXPECT_EQ(AnimationLog::Get().started[0], db::AnimationKind::DatabaseRepair);
  EXPECT_EQ(AnimationLog::Get().stopped, 1);
}

TEST_F(AssetDbRebuildTest, UtilityThatCannotStartIsReportedAndOwnershipRetaken) {
  ASSERT_TRUE(db::CheckFilesNotInUse());

  EXPECT_FALSE(db::RebuildAssetDatabase());

  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0].level, 0);
  EXPECT_EQ(Messages()[0].text, kUpdating);
  EXPECT_EQ(Messages()[1].level, 2);
  EXPECT_EQ(Messages()[1].text, kLaunchFailed);
  EXPECT_TRUE(AnimationLog::Get().started.empty());
  RawBlock raw(DatabasePath());
  ASSERT_TRUE(raw.Open());
  EXPECT_EQ(raw.Signed(Block::OFFSET_OWNER), ThisProcess());
  EXPECT_EQ(raw.Byte(Block::OFFSET_LENDS_OWNERSHIP), 0);
}

TEST_F(AssetDbRebuildTest, WithoutAnAnimationTheRebuildGoesOn) {
  InstallUtility();
  db::SetAnimationFactory(nullptr);
  db::RebuildAssetDatabase();
  ASSERT_GE(Messages().size(), 2u);
  EXPECT_NE(RelayedText(0).find(L"OmbrixUtil: output line 2\n"), std::wstring::npos);
}

// A stream that hands out the scripted pieces, each with the read's result.
class ScriptedStream {
 public:
  explicit ScriptedStream(std::vector<std::pair<std::string, bool>> pieces) : m_pieces(std::move(pieces)) {}
  db::StreamReader Reader() {
    return [this](std::string& text) {
      ++m_reads;
      if (m_next >= m_pieces.size()) return false;
      text += m_pieces[m_next].first;
      return m_pieces[m_next++].second;
    };
  }
  int Reads() const { return m_reads; }

 private:
  std::vector<std::pair<std::string, bool>> m_pieces;
  std::size_t m_next = 0;
  int m_reads = 0;
};

TEST_F(AssetDbTest, RelayAlternatesStreamsAtTheirLevelsUntilBothEnd) {
  ScriptedStream output({{"out 1\n", true}, {"", true}, {"out 2\n", true}, {"", false}});
  ScriptedStream error({{"err 1\n", true}, {"err \xB0 2\n", false}});

  db::RelayToolOutput(output.Reader(), error.Reader());

  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_EQ(Messages()[0].level, 0);
  EXPECT_EQ(Messages()[0].text, L"out 1\n");
  EXPECT_EQ(Messages()[1].level, 1);
  EXPECT_EQ(Messages()[1].text, L"err 1\n");
  EXPECT_EQ(Messages()[2].level, 1);
  EXPECT_EQ(Messages()[2].text, L"err \u00B0 2\n") << "widened from the 8-bit text";
  EXPECT_EQ(Messages()[3].level, 0);
  EXPECT_EQ(Messages()[3].text, L"out 2\n");
  EXPECT_EQ(output.Reads(), 4);
  EXPECT_EQ(error.Reads(), 2) << "a read that returns false ends its stream";
}

TEST_F(AssetDbTest, RelayTurnsWindowsLineEndsIntoTheLogsOwn) {
  // A CR LF split between two reads, a lone CR kept, and a CR that ends the
  // stream kept too.
  ScriptedStream output({{"line 1\r\nline 2\r", true}, {"\nbar\rchart\r\n", true}, {"last\r", false}});
  ScriptedStream error({{"oops\r\n", false}});

  db::RelayToolOutput(output.Reader(), error.Reader());

  std::wstring relayed;
  for (const auto& message : Messages()) relayed += message.text;
  EXPECT_EQ(relayed, L"line 1\nline 2oops\n\nbar\rchart\nlast\r");
}

}  // namespace
