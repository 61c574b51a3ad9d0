// A Cancel during unpacking (the window's button, Ctrl-C in the console):
// the unpacker asks before every entry and before each block of a file,
// and stops; what was written stays for the caller to remove.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "archive_test_support.h"
#include "patch/PatchArchive.h"
#include "patch/PatchEngineCallbacks.h"

namespace {

using namespace packagetest;
namespace fs = std::filesystem;

// The engine's callbacks for one test, with the given cancel question.
class ScopedCancelQuestion {
 public:
  explicit ScopedCancelQuestion(std::function<bool()> question) {
    NolkPatch::PatchEngineCallbacks callbacks;
    NolkPatch::StopOnCancel(callbacks, std::move(question));
    NolkPatch::SetPatchEngineCallbacks(std::move(callbacks));
  }
  ~ScopedCancelQuestion() { NolkPatch::SetPatchEngineCallbacks({}); }
  ScopedCancelQuestion(const ScopedCancelQuestion&) = delete;
  ScopedCancelQuestion& operator=(const ScopedCancelQuestion&) = delete;
};

class UnpackCancelTest : public ArchiveTest {
 protected:
  void WriteTwoFiles() {
    WriteArchive(ArchiveBuilder()
                     .Folder(L".\\data")
                     .File(L".\\data\\first.bin", m_first)
                     .File(L".\\data\\second.bin", m_second)
                     .Get());
  }
  bool FirstIsComplete() const {
    const fs::path first = m_destination / "data" / "first.bin";
    return fs::exists(first) && fs::file_size(first) == m_first.size();
  }

  const Bytes m_first = PatternBytes(200000, 3);
  const Bytes m_second = PatternBytes(5000, 4);
};

TEST_F(UnpackCancelTest, ACancelBeforeTheStartUnpacksNothing) {
  WriteTwoFiles();
  ScopedCancelQuestion cancel([] { return true; });
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_TRUE(DestinationListing().empty());
}

TEST_F(UnpackCancelTest, ACancelStopsBeforeTheNextEntry) {
  WriteTwoFiles();
  ScopedCancelQuestion cancel([this] { return FirstIsComplete(); });
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "first.bin"), m_first);
  EXPECT_FALSE(fs::exists(m_destination / "data" / "second.bin"));
}

// A Cancel that comes once a file has been created refuses its contents,
// so one large file does not hold up the end of the run.
TEST_F(UnpackCancelTest, ACancelRefusesTheBlocksOfTheFileUnderWay) {
  WriteTwoFiles();
  ScopedCancelQuestion cancel([this] { return fs::exists(m_destination / "data" / "first.bin"); });
  EXPECT_FALSE(UnpackWrittenArchive());
  EXPECT_EQ(fs::file_size(m_destination / "data" / "first.bin"), 0u);
  EXPECT_FALSE(fs::exists(m_destination / "data" / "second.bin"));
}

TEST_F(UnpackCancelTest, WithoutACancelEverythingIsUnpacked) {
  WriteTwoFiles();
  int asked = 0;
  ScopedCancelQuestion cancel([&asked] {
    ++asked;
    return false;
  });
  EXPECT_TRUE(UnpackWrittenArchive());
  EXPECT_EQ(ReadFileBytes(m_destination / "data" / "second.bin"), m_second);
  EXPECT_GE(asked, 3) << "asked before each of the three entries";
}

// The engine's steps and the unpacker follow the same question; without
// one nothing is ever cancelled.
TEST(StopOnCancelTest, StepsAndUnpackerFollowTheOneQuestion) {
  EXPECT_TRUE(NolkPatch::EngineStepAllowed());
  EXPECT_FALSE(NolkPatch::EngineCancelRequested());
  bool cancelled = false;
  {
    ScopedCancelQuestion cancel([&cancelled] { return cancelled; });
    EXPECT_TRUE(NolkPatch::EngineStepAllowed());
    EXPECT_FALSE(NolkPatch::EngineCancelRequested());
    cancelled = true;
    EXPECT_FALSE(NolkPatch::EngineStepAllowed());
    EXPECT_TRUE(NolkPatch::EngineCancelRequested());
  }
  EXPECT_TRUE(NolkPatch::EngineStepAllowed());
  EXPECT_FALSE(NolkPatch::EngineCancelRequested());
}

}  // namespace
