// FindProductInstallPath against a registry store of the test's own, and
// the marker-file test of an installation folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/core/InstallDiscovery.h"
#include "discovery_test_support.h"

namespace {

using app_test::ProductEntry;
using app_test::ProductRegistry;
using app_test::ProductValues;
using NolkPatch::FindProductInstallPath;

class ProductLookupTest : public ::testing::Test {
 protected:
  ProductLookupTest() : m_registry("KORVEL_REGISTRY", (m_folder / "registry.reg").string()) {}
  void WriteRegistry(const std::vector<ProductEntry>& entries) {
    m_folder.WriteFile("registry.reg", ProductRegistry(entries));
  }
  std::wstring Lookup(const std::wstring& productClass = L"Ombrix") {
    return FindProductInstallPath(L"OmbrixSimulator", productClass);
  }

  app_test::TempFolder m_folder;
  app_test::ScopedEnv m_registry;
};

TEST_F(ProductLookupTest, SubkeyEnumeratedLastWins) {
  // Subkeys enumerate in case-insensitive alphabetical order: alpha, Beta, gamma.
  WriteRegistry({{"gamma", {ProductValues("Other", "C:\\Other")}},
                 {"Beta", {ProductValues("Ombrix", "C:\\Games\\Beta")}},
                 {"alpha", {ProductValues("Ombrix", "C:\\Games\\Alpha")}}});
  EXPECT_EQ(Lookup(), L"C:\\Games\\Beta");
}

TEST_F(ProductLookupTest, EmptyOrMissingPathKeepsTheEarlierResult) {
  WriteRegistry({{"A", {ProductValues("Ombrix", "D:\\Ombrix")}},
                 {"B", {ProductValues("Ombrix", "")}},
                 {"C", {"\"ProductClass\"=\"Ombrix\""}}});
  EXPECT_EQ(Lookup(), L"D:\\Ombrix");
}

TEST_F(ProductLookupTest, ClassComparesWithoutCase) {
  WriteRegistry({{"A", {ProductValues("oMBRIX", "/games/ombrix")}}});
  EXPECT_EQ(Lookup(), L"/games/ombrix");
  EXPECT_EQ(Lookup(L"OMBRIX"), L"/games/ombrix");
  EXPECT_EQ(Lookup(L"Ombrix2"), L"");
}

TEST_F(ProductLookupTest, ClassThatIsNotATextDoesNotMatch) {
  WriteRegistry({{"A", {"\"ProductClass\"=dword:00000001", "\"ProductInstallPath\"=\"/games/a\""}},
                 {"B", {"\"ProductInstallPath\"=\"/games/b\""}}});
  EXPECT_EQ(Lookup(), L"");
}

TEST_F(ProductLookupTest, EmptyClassAcceptsEveryProduct) {
  WriteRegistry({{"A", {ProductValues("Ombrix", "/games/a")}},
                 {"B", {ProductValues("Demo", "/games/b")}},
                 {"C", {"\"ProductInstallPath\"=\"/games/c\""}}});
  EXPECT_EQ(Lookup(L""), L"/games/c");
}

TEST_F(ProductLookupTest, MissingArgumentsOrKeysFindNothing) {
  WriteRegistry({{"A", {ProductValues("Ombrix", "/games/a")}}});
  EXPECT_EQ(FindProductInstallPath(L"", L"Ombrix"), L"");
  EXPECT_EQ(FindProductInstallPath(L"OtherProduct", L"Ombrix"), L"");
  m_folder.WriteFile("registry.reg", "Windows Registry Editor Version 5.00\r\n");
  EXPECT_EQ(Lookup(), L"");
  std::filesystem::remove(m_folder / "registry.reg");
  EXPECT_EQ(Lookup(), L"");
}

// The product key is opened with full access, so a store this process may
// not write yields nothing.
TEST_F(ProductLookupTest, StoreWithoutWriteAccessFindsNothing) {
  WriteRegistry({{"A", {ProductValues("Ombrix", "/games/a")}}});
  ASSERT_EQ(Lookup(), L"/games/a");
  chmod((m_folder / "registry.reg").c_str(), 0444);
  EXPECT_EQ(Lookup(), L"");
}

TEST(InstallFolderTest, MarkerFileIsFoundInAnyLetterCase) {
  app_test::TempFolder folder;
  folder.WriteFile("exact/bin/launcher.exe", "x");
  folder.WriteFile("mixed/Bin/Launcher.EXE", "x");
  folder.WriteFile("other/bin/Ombrix.exe", "x");
  EXPECT_TRUE(NolkPatch::IsInstallFolder(folder.Wide("exact")));
  EXPECT_TRUE(NolkPatch::IsInstallFolder(folder.Wide("mixed")));
  EXPECT_TRUE(NolkPatch::IsInstallFolder(folder.Wide("mixed") + L"\\"));
  EXPECT_FALSE(NolkPatch::IsInstallFolder(folder.Wide("other")));
  EXPECT_FALSE(NolkPatch::IsInstallFolder(folder.Wide("missing")));
  EXPECT_FALSE(NolkPatch::IsInstallFolder(L""));
}

}  // namespace
