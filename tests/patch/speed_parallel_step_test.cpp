// Entries rebuilt side by side still report as one entry after another:
// messages in list order, nothing posted for entries after the first
// failure, and every file restored by the rollback, those already rebuilt
// beside the failing one included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/patch/EngineTestSupport.h"

namespace {

using namespace enginetest;

class ParallelStepTest : public EngineTest {};

TEST_F(ParallelStepTest, MessagesFollowTheListAndAFailureRollsEverythingBack) {
  InstallCopyingDiffTool();
  const std::vector<std::string> names = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll", "f.dll"};
  for (const std::string& name : names) ChangeFile(name, name + " old", name + " new");
  WriteInstalled("a.dll", "a.dll new");      // already patched: a warning first
  WriteInstalled("d.dll", "d.dll damaged");  // the failure
  EXPECT_FALSE(Apply());
  ASSERT_EQ(m_messages.size(), 2u);
  EXPECT_EQ(m_messages[0],
            std::make_pair(1, L"Existing file appears to have been patched already: " + Shown("a.dll")));
  EXPECT_EQ(m_messages[1],
            std::make_pair(2, L"Existing file is damaged and cannot be patched: " + Shown("d.dll")));
  EXPECT_EQ(ReadBytes(Installed("a.dll")), "a.dll new");
  EXPECT_EQ(ReadBytes(Installed("d.dll")), "d.dll damaged");
  for (const std::string name : {"b.dll", "c.dll", "e.dll", "f.dll"}) {
    EXPECT_EQ(ReadBytes(Installed(name)), name + " old") << name;
    EXPECT_FALSE(fs::exists(Installed(name + ".pbk"))) << name;
  }
}

}  // namespace
