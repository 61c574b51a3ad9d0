// Registry store semantics: case-insensitive keys and values, enumeration
// order, the file format and its escapes, rejected input.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(RegistryStoreFile, LinuxOnly) {
  GTEST_SKIP() << "Linux only: the registry store file exists on Linux only; Windows uses the system "
                  "registry (win32_registry_test)";
}
#else
#include <gtest/gtest.h>
#include <unistd.h>

#include "KernelStandard/platform/RegistryStore.h"
#include "platform_test_support.h"

namespace {

using PlatformTest::ReadText;
using PlatformTest::TempFolder;
using PlatformTest::WriteText;

const std::wstring kProducts = L"SOFTWARE\\Korvel\\Products";

class RegistryStoreTest : public ::testing::Test {
 protected:
  TempFolder folder;
  std::string file = folder.Native("registry.reg");
  OS::RegistryStore store{file};
};

TEST_F(RegistryStoreTest, MissingStoreReadsAsEmpty) {
  EXPECT_TRUE(store.KeyExists(L""));
  EXPECT_FALSE(store.KeyExists(L"Software\\Korvel"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(store.EnumSubkeys(L"").empty());
  std::wstring text;
  EXPECT_FALSE(store.GetString(L"Software\\Korvel", L"x", text));
}

TEST_F(RegistryStoreTest, KeysAndValueNamesIgnoreCaseAndKeepFirstSpelling) {
  ASSERT_TRUE(store.CreateKey(L"SOFTWARE\\Korvel"));
  ASSERT_TRUE(store.CreateKey(L"Software\\KORVEL\\Products\\"));
  EXPECT_TRUE(store.KeyExists(L"software\\korvel\\products"));
  ASSERT_TRUE(store.SetString(L"software\\korvel", L"ProductClass", L"Ombrix"));
  ASSERT_TRUE(store.SetString(L"SOFTWARE\\KORVEL", L"PRODUCTCLASS", L"Ombrix2"));
  std::wstring text;
  ASSERT_TRUE(store.GetString(L"Software\\Korvel", L"productclass", text));
  EXPECT_EQ(text, L"Ombrix2");
  std::vector<OS::RegistryValue> values;
  ASSERT_TRUE(store.GetValues(L"Software\\Korvel", values));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, L"ProductClass");
  EXPECT_EQ(store.EnumSubkeys(L""), std::vector<std::wstring>{L"SOFTWARE"});
  EXPECT_EQ(store.EnumSubkeys(L"software"), std::vector<std::wstring>{L"Korvel"});
}

TEST_F(RegistryStoreTest, SubkeysEnumerateAlphabeticallyIgnoringCase) {
  for (const wchar_t* name : {L"b-edition", L"Zeta", L"alpha", L"Beta", L"A_under"}) {
    ASSERT_TRUE(store.CreateKey(kProducts + L"\\OmbrixSimulator\\" + name));
  }
  ASSERT_TRUE(store.CreateKey(kProducts + L"\\OmbrixSimulator\\alpha\\Nested"));
  // Letters compare as capitals: '_' sorts after every letter, '-' before.
  EXPECT_EQ(store.EnumSubkeys(kProducts + L"\\ombrixsimulator"),
            (std::vector<std::wstring>{L"alpha", L"A_under", L"b-edition", L"Beta", L"Zeta"}));
  OS::RegistryKeyInfo info;
  ASSERT_TRUE(store.QueryInfo(kProducts + L"\\OmbrixSimulator", info));
  EXPECT_EQ(info.subkeyCount, 5u);
  EXPECT_EQ(info.longestSubkeyName, 9u);
  EXPECT_EQ(info.valueCount, 0u);
}

TEST_F(RegistryStoreTest, WritesNeedAnExistingKeyAndTypesAreChecked) {
  EXPECT_FALSE(store.SetDword(L"Software\\Korvel\\Products\\OmbrixSimulator", L"IsPatching", 1));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(store.CreateKey(L"Software\\Korvel\\Products\\OmbrixSimulator"));
  ASSERT_TRUE(store.SetDword(L"Software\\Korvel\\Products\\OmbrixSimulator", L"IsPatching", 1));
  std::uint32_t number = 0;
  ASSERT_TRUE(store.GetDword(L"SOFTWARE\\Korvel\\Products\\OmbrixSimulator", L"ispatching", number));
  EXPECT_EQ(number, 1u);
  std::wstring text;
  EXPECT_FALSE(store.GetString(L"SOFTWARE\\Korvel\\Products\\OmbrixSimulator", L"IsPatching", text));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(store.DeleteValue(L"Software\\Korvel\\Products\\OmbrixSimulator", L"ISPATCHING"));
  EXPECT_FALSE(store.GetDword(L"Software\\Korvel\\Products\\OmbrixSimulator", L"IsPatching", number));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(store.DeleteValue(L"Software\\Korvel\\Products\\OmbrixSimulator", L"IsPatching"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStoreTest, DeleteKeyRemovesSubtreeOnly) {
  ASSERT_TRUE(store.CreateKey(kProducts + L"\\OmbrixSimulator\\Gold\\Deep"));
  ASSERT_TRUE(store.CreateKey(kProducts + L"\\OmbrixSimulatorX"));
  ASSERT_TRUE(store.DeleteKey(kProducts + L"\\ombrixsimulator"));
  EXPECT_FALSE(store.KeyExists(kProducts + L"\\OmbrixSimulator\\Gold"));
  EXPECT_TRUE(store.KeyExists(kProducts + L"\\OmbrixSimulatorX"));
  EXPECT_FALSE(store.DeleteKey(kProducts + L"\\OmbrixSimulator"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(store.DeleteKey(L""));
}

TEST_F(RegistryStoreTest, EscapesRoundTripThroughTheFile) {
  const std::wstring tricky = L"C:\\Games\\\"Ombrix\" \\\\ end\\";
  ASSERT_TRUE(store.CreateKey(L"Software\\Korvel"));
  ASSERT_TRUE(store.SetString(L"Software\\Korvel", L"Na\"me\\", tricky));
  ASSERT_TRUE(store.SetString(L"Software\\Korvel", L"", L"default"));
  ASSERT_TRUE(store.SetString(L"Software\\Korvel", L"Unicode", L"\u00e9t\u00e9 \u0416"));
  const std::string text = ReadText(file);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Korvel]\n"), std::string::npos);
  EXPECT_NE(text.find("\"Na\\\"me\\\\\"=\"C:\\\\Games\\\\\\\"Ombrix\\\" \\\\\\\\ end\\\\\"\n"),
            std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  OS::RegistryStore reread(file);
  std::wstring value;
  ASSERT_TRUE(reread.GetString(L"software\\korvel", L"na\"ME\\", value));
  EXPECT_EQ(value, tricky);
  ASSERT_TRUE(reread.GetString(L"software\\korvel", L"", value));
  EXPECT_EQ(value, L"default");
  ASSERT_TRUE(reread.GetString(L"software\\korvel", L"unicode", value));
  EXPECT_EQ(value, L"\u00e9t\u00e9 \u0416");
}

TEST_F(RegistryStoreTest, ReadsRegeditExportsAndKeepsUnknownValueTypes) {
  const std::string exported =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "; comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Products\\OmbrixSimulator\\Retail]\r\n"
      "\"ProductClass\"=\"Ombrix\"\r\n"
      "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n"
      "\"Count\"=dword:0000002A\r\n";
  WriteText(file, exported);
  std::uint32_t count = 0;
  ASSERT_TRUE(store.GetDword(kProducts + L"\\OmbrixSimulator\\Retail", L"Count", count));
  EXPECT_EQ(count, 42u);
  EXPECT_TRUE(store.KeyExists(kProducts + L"\\OmbrixSimulator"));
  ASSERT_TRUE(
      store.SetString(kProducts + L"\\OmbrixSimulator\\Retail", L"ProductInstallPath", L"/games/ombrix"));
  const std::string rewritten = ReadText(file);
  EXPECT_NE(rewritten.find("\"Blob\"=hex:01,02,03,04\n"), std::string::npos);
  EXPECT_NE(rewritten.find("\"Count\"=dword:0000002a\n"), std::string::npos);
}

TEST_F(RegistryStoreTest, UnreadableStoreIsNeverOverwritten) {
  const std::string garbage = "this is not a registry file\n[HKEY_LOCAL_MACHINE\\X]\n";
  WriteText(file, garbage);
  EXPECT_FALSE(store.KeyExists(L"X"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_GEN_FAILURE);
  EXPECT_FALSE(store.CreateKey(L"Software"));
  EXPECT_EQ(ReadText(file), garbage);
  WriteText(file, "Windows Registry Editor Version 5.00\n\"Orphan\"=\"value before any key\"\n");
  EXPECT_FALSE(store.CreateKey(L"Software"));
  WriteText(file, "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software]\n");
  EXPECT_FALSE(store.KeyExists(L"Software"));
}

TEST_F(RegistryStoreTest, TextsTheFormatCannotHoldAreRefused) {
  ASSERT_TRUE(store.CreateKey(L"Software"));
  EXPECT_FALSE(store.SetString(L"Software", L"Name", L"two\nlines"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(store.SetDword(L"Software", L"bad\rname", 1));
  EXPECT_FALSE(store.CreateKey(L"Software\\new\nkey"));
  EXPECT_EQ(store.EnumSubkeys(L"Software").size(), 0u);
}

TEST_F(RegistryStoreTest, DefaultStoreFollowsEnvironmentAtEveryCall) {
  TempFolder other;
  ::setenv("KORVEL_REGISTRY", file.c_str(), 1);
  ASSERT_TRUE(OS::RegistryStore::Default().CreateKey(L"Software\\First"));
  ::setenv("KORVEL_REGISTRY", other.Native("second.reg").c_str(), 1);
  EXPECT_EQ(OS::RegistryStore::Default().FilePath(), other.Native("second.reg"));
  EXPECT_FALSE(OS::RegistryStore::Default().KeyExists(L"Software\\First"));
  ::unsetenv("KORVEL_REGISTRY");
  if (::geteuid() == 0) {
    EXPECT_EQ(OS::RegistryStore::Default().FilePath(), "/var/lib/korvel/registry.reg");
  }
  EXPECT_TRUE(store.KeyExists(L"Software\\First"));
}

}  // namespace

#endif  // _WIN32
