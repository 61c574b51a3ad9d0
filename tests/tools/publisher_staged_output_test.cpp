// The staged output's place in the table of files removed when the program
// is interrupted: every output gives it back, committed or abandoned, so a
// program that writes many outputs keeps all of them covered.
#include "KernelStandard/platform/TerminationCleanup.h"
#include "publisher_test_support.h"
#include "tools/publisher/StagedOutput.h"

namespace PublisherTest {
namespace {

using KorvelTools::StagedOutput;

class StagedOutputTest : public PublisherFolderTest {
 protected:
  static void WriteAt(const std::wstring& path, const std::string& text) {
    std::ofstream(OS::ToUtf8(path), std::ios::binary) << text;
  }
};

TEST_F(StagedOutputTest, EveryOutputGivesBackItsCleanupPlace) {
  for (int i = 0; i < 3 * OS::kMaxTerminationCleanupFiles; ++i) {
    StagedOutput output(Wide("out" + std::to_string(i)));
    WriteAt(output.TemporaryPath(), "bytes");
    if (i % 2 == 0) {
      ASSERT_TRUE(output.Commit());
    }
  }
  std::vector<int> tokens;
  for (int i = 0; i < OS::kMaxTerminationCleanupFiles; ++i)
    tokens.push_back(OS::RegisterTerminationCleanupFile(Wide("probe" + std::to_string(i))));
  for (int token : tokens) EXPECT_GE(token, 0);
  EXPECT_EQ(OS::RegisterTerminationCleanupFile(Wide("one too many")), -1);
  for (int token : tokens) OS::UnregisterTerminationCleanupFile(token);
}

TEST_F(StagedOutputTest, CommitReplacesAnOlderFileAndAbandonRemovesTheTemporaryFile) {
  Write("out", "older");
  {
    StagedOutput output(Wide("out"));
    WriteAt(output.TemporaryPath(), "newer");
    ASSERT_TRUE(output.Commit());
  }
  EXPECT_EQ(ReadText(m_root / "out"), "newer");
  std::wstring temporary;
  {
    StagedOutput output(Wide("out"));
    temporary = output.TemporaryPath();
    WriteAt(temporary, "abandoned");
  }
  EXPECT_FALSE(OS::Current().Exists(temporary));
  EXPECT_EQ(ReadText(m_root / "out"), "newer");
}

}  // namespace
}  // namespace PublisherTest
