// ApplyPatchGuarded and the "IsPatching" marker.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "EngineTestSupport.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "patch/PatchGuard.h"
#include "patch/PatchingFlag.h"
#include "tests/KernelStandard/linux_only.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace {

using namespace enginetest;

class GuardTest : public EngineTest {
 protected:
  void TearDown() override {
    NolkPatch::SetShowInstallPathHook({});
    EngineTest::TearDown();
  }
};

TEST_F(GuardTest, FlagIsADwordOneAndClearRemovesIt) {
  ASSERT_TRUE(NolkPatch::SetPatchingFlag());
  EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
  ASSERT_TRUE(NolkPatch::ClearPatchingFlag());
  EXPECT_EQ(PatchingFlag(), std::nullopt);
  EXPECT_FALSE(NolkPatch::ClearPatchingFlag());  // nothing left to delete
}

TEST_F(GuardTest, FlagNeedsTheProductKey) {
  ASSERT_TRUE(OS::RegistryStore::Default().DeleteKey(kProductKey));
  EXPECT_FALSE(NolkPatch::SetPatchingFlag());
  EXPECT_FALSE(NolkPatch::ClearPatchingFlag());
  EXPECT_FALSE(OS::RegistryStore::Default().KeyExists(kProductKey));
}

TEST_F(GuardTest, ReadOnlyStoreRefusesTheFlag) {
  KORVEL_LINUX_ONLY("the registry store file; Windows keeps the flag in the system registry");
  const fs::path folder = m_root / "locked";
  fs::create_directories(folder);
  setenv("KORVEL_REGISTRY", (folder / "registry.reg").string().c_str(), 1);
  ASSERT_TRUE(OS::RegistryStore::Default().CreateKey(kProductKey));
  fs::permissions(folder / "registry.reg", fs::perms::owner_read);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(NolkPatch::SetPatchingFlag());
  fs::permissions(folder, fs::perms::owner_all);
  fs::permissions(folder / "registry.reg", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(PatchingFlag(), std::nullopt);
}

TEST_F(GuardTest, SuccessClearsTheFlagAndShowsTheInstallation) {
  int shown = 0;
  std::optional<std::uint32_t> flagWhileShown;
  NolkPatch::SetShowInstallPathHook([&] {
    ++shown;
    flagWhileShown = PatchingFlag();
  });
  AddFile("new.txt", "new");
  WriteLists();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(flagWhileShown, std::optional<std::uint32_t>(1));
  EXPECT_EQ(PatchingFlag(), std::nullopt);
  EXPECT_EQ(ReadBytes(Installed("new.txt")), "new");  // applied to PatchSettings' InstallPath
}

TEST_F(GuardTest, FailureLeavesTheFlagSet) {
  // No lists at all: the run fails before anything is changed.
  EXPECT_FALSE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  EXPECT_EQ(PatchingFlag(), std::optional<std::uint32_t>(1));
}

TEST_F(GuardTest, FlagFailuresDoNotChangeTheResult) {
  ASSERT_TRUE(OS::RegistryStore::Default().DeleteKey(kProductKey));
  WriteLists();
  EXPECT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
}

TEST_F(GuardTest, LauncherNameIsNolkLauncher) {
  InstallCopyingDiffTool();
  ChangeFile("bin\\NolkLauncher.exe", "l1", "l2");
  ChangeFile("bin\\z.dll", "z1", "z2");
  WriteLists();
  ASSERT_TRUE(NolkPatch::ApplyPatchGuarded(Wide(m_patch)));
  const std::vector<std::string> calls = ToolCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls.back().find("NolkLauncher.exe"), std::string::npos);
}

}  // namespace
