// Where the default registry store lives: KORVEL_REGISTRY, the machine's
// store for root, a store of the user's own for everyone else. Other users
// are played through an injected EffectiveUserId; the machine's store
// (/var/lib/korvel/registry.reg) is only looked at, never made or removed.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(RegistryStoreLocation, LinuxOnly) {
  GTEST_SKIP()
      << "Linux only: the registry store file exists on Linux only; Windows uses the system registry";
}
#else
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "platform_test_support.h"

namespace {

namespace fs = std::filesystem;
using PlatformTest::ScopedVariable;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

constexpr char kMachineStore[] = "/var/lib/korvel/registry.reg";

OS::FaultRule ActAsUser(std::uint64_t uid) {
  OS::FaultRule rule;
  rule.operation = "EffectiveUserId";
  rule.value = uid;
  return rule;
}

bool MachineStoreExists() {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(kMachineStore, ignored));
}

class StoreLocationTest : public ::testing::Test {
 protected:
  TempFolder folder;
  ScopedVariable registry{"KORVEL_REGISTRY", std::nullopt};
  ScopedVariable dataHome{"XDG_DATA_HOME", folder.Native("data")};
  ScopedVariable home{"HOME", folder.Native("home")};
  std::string userStore = folder.Native("data/korvel/registry.reg");
};

TEST_F(StoreLocationTest, EnvironmentVariableComesFirst) {
  ScopedVariable named("KORVEL_REGISTRY", folder.Native("named.reg"));
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), folder.Native("named.reg"));
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(1000));
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), folder.Native("named.reg"));
  // An empty value counts as unset.
  ScopedVariable empty("KORVEL_REGISTRY", std::string());
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), MachineStoreExists() ? kMachineStore : userStore);
}

TEST_F(StoreLocationTest, RootKeepsTheMachineStore) {
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(0));
  fs::create_directories(folder.Native("data/korvel"));
  WriteText(userStore, "");  // even a user store in root's data folder is not used
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), kMachineStore);
}

TEST_F(StoreLocationTest, OtherUsersKeepAStoreOfTheirOwn) {
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(1000));
  fs::create_directories(folder.Native("data/korvel"));
  WriteText(userStore, "Windows Registry Editor Version 5.00\r\n\r\n");
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), userStore);
  {
    ScopedVariable noData("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(OS::RegistryStore::Default().FilePath(),
              folder.Native("home/.local/share/korvel/registry.reg"));
  }
}

TEST_F(StoreLocationTest, UserWithoutAStoreReadsTheMachineStoreWhenThereIsOne) {
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(1000));
  const std::string expected = MachineStoreExists() ? kMachineStore : userStore;
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), expected);
}

TEST_F(StoreLocationTest, UserWithoutHomeFallsBackToTheMachineStore) {
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(1000));
  OS::FaultRule noHome;
  noHome.operation = "UserDataFolder";
  faults.Add(noHome);
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), kMachineStore);
}

TEST_F(StoreLocationTest, FirstWriteOfAUserMakesTheUserStoreAndReadsMakeNothing) {
  if (MachineStoreExists()) GTEST_SKIP() << "a machine store exists here, so a user without a store uses it";
  OS::ScopedFaults faults;
  faults.Add(ActAsUser(1000));
  OS::RegistryStore& store = OS::RegistryStore::Default();
  EXPECT_FALSE(store.KeyExists(L"Software\\Korvel\\Products\\OmbrixSimulator"));
  EXPECT_FALSE(store.CanWrite(L"Software\\Korvel"));
  EXPECT_FALSE(fs::exists(folder.Native("data")));
  ASSERT_TRUE(store.CreateKey(L"Software\\Korvel"));
  ASSERT_TRUE(store.SetString(L"Software\\Korvel", L"Owner", L"player"));
  EXPECT_TRUE(fs::is_regular_file(userStore));
  EXPECT_FALSE(MachineStoreExists());
  std::wstring owner;
  EXPECT_TRUE(OS::RegistryStore(userStore).GetString(L"SOFTWARE\\Korvel", L"Owner", owner));
  EXPECT_EQ(owner, L"player");
}

}  // namespace

#endif  // _WIN32
