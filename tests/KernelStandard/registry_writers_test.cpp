// Registry store writes: crash-safe replacement, concurrent writers, and
// the write-permission test.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(RegistryStoreWriters, LinuxOnly) {
  GTEST_SKIP()
      << "Linux only: the registry store file exists on Linux only; Windows uses the system registry";
}
#else
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "KernelStandard/platform/FaultInjection.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "platform_test_support.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;

std::size_t FilesIn(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(RegistryWritersTest, FailedReplaceLeavesOldStoreAndNoTemporary) {
  TempFolder folder;
  const std::string file = folder.Native("registry.reg");
  OS::RegistryStore store(file);
  ASSERT_TRUE(store.CreateKey(L"Software\\Korvel"));
  ASSERT_TRUE(store.SetString(L"Software\\Korvel", L"Kept", L"yes"));
  const std::string before = ReadText(file);
  const std::size_t filesBefore = FilesIn(folder.Native());
  {
    OS::ScopedFaults faults;
    faults.Add({"RegistryReplace", "registry.reg", 0, -1, OS::ERROR_DISK_FULL, std::nullopt, 0});
    EXPECT_FALSE(store.SetDword(L"Software\\Korvel", L"IsPatching", 1));
    EXPECT_EQ(OS::GetLastError(), OS::ERROR_DISK_FULL);
    EXPECT_EQ(faults.Calls("RegistryReplace"), 1);
  }
  EXPECT_EQ(ReadText(file), before);
  EXPECT_EQ(FilesIn(folder.Native()), filesBefore);  // store and lock file only
  std::uint32_t number = 0;
  EXPECT_FALSE(store.GetDword(L"Software\\Korvel", L"IsPatching", number));
  EXPECT_TRUE(store.SetDword(L"Software\\Korvel", L"IsPatching", 1));
}

TEST(RegistryWritersTest, ConcurrentThreadsLoseNoUpdates) {
  TempFolder folder;
  const std::string file = folder.Native("registry.reg");
  ASSERT_TRUE(OS::RegistryStore(file).CreateKey(L"Software\\Korvel"));
  constexpr int kThreads = 4;
  constexpr int kWrites = 15;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      OS::RegistryStore store(file);
      for (int i = 0; i < kWrites; ++i) {
        EXPECT_TRUE(
            store.SetDword(L"Software\\Korvel", L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i), i));
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  OS::RegistryKeyInfo info;
  ASSERT_TRUE(OS::RegistryStore(file).QueryInfo(L"Software\\Korvel", info));
  EXPECT_EQ(info.valueCount, static_cast<std::uint32_t>(kThreads * kWrites));
}

TEST(RegistryWritersTest, ConcurrentProcessesLoseNoUpdates) {
  TempFolder folder;
  const std::string file = folder.Native("registry.reg");
  ASSERT_TRUE(OS::RegistryStore(file).CreateKey(L"Software\\Korvel"));
  constexpr int kProcesses = 3;
  constexpr int kWrites = 10;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      OS::RegistryStore store(file);
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        ok = store.SetString(L"software\\korvel", L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i),
                             L"v") &&
             ok;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<OS::RegistryValue> values;
  ASSERT_TRUE(OS::RegistryStore(file).GetValues(L"Software\\Korvel", values));
  EXPECT_EQ(values.size(), static_cast<std::size_t>(kProcesses * kWrites));
}

TEST(RegistryWritersTest, ReadOnlyStoreOrFolderFailsTheWriteTest) {
  TempFolder folder;
  const std::string file = folder.Native("store/registry.reg");
  OS::RegistryStore store(file);
  EXPECT_FALSE(store.CanWrite(L"Software\\Korvel"));  // key missing
  ASSERT_TRUE(store.CreateKey(L"Software\\Korvel"));  // creates the folder too
  EXPECT_TRUE(store.CanWrite(L"Software\\Korvel"));

  ::chmod(folder.Native("store").c_str(), 0555);
  EXPECT_FALSE(store.CanWrite(L"Software\\Korvel"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(store.SetDword(L"Software\\Korvel", L"IsPatching", 1));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
  ::chmod(folder.Native("store").c_str(), 0755);

  ::chmod(file.c_str(), 0444);
  EXPECT_FALSE(store.CanWrite(L"Software\\Korvel"));
  EXPECT_TRUE(store.KeyExists(L"Software\\Korvel"));  // still readable
  ::chmod(file.c_str(), 0644);
  EXPECT_TRUE(store.CanWrite(L"Software\\Korvel"));
}

// Ownership, not only the mode bits: an unprivileged user may not write a
// store in a folder it does not own.
TEST(RegistryWritersTest, UnprivilegedUserCannotWriteForeignStore) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  TempFolder folder;
  const std::string file = folder.Native("store/registry.reg");
  ASSERT_TRUE(OS::RegistryStore(file).CreateKey(L"Software\\Korvel"));
  ::chmod(folder.Native().c_str(), 0755);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    OS::RegistryStore store(file);
    const bool readable = store.KeyExists(L"Software\\Korvel");
    const bool writable = store.CanWrite(L"Software\\Korvel") || store.SetDword(L"Software\\Korvel", L"X", 1);
    ::_exit(readable && !writable ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

#endif  // _WIN32
