// The registry store on Windows is HKEY_LOCAL_MACHINE itself: values written
// through it are the system's, and what other programs write is read back.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "KernelStandard/platform/RegistryStore.h"
#include "KernelStandard/platform/win32/Win32Api.h"

namespace {

// A key of its own for each test under HKLM\SOFTWARE, removed at the end.
class RegistryKey : public ::testing::Test {
 protected:
  void SetUp() override {
    m_key = L"SOFTWARE\\KorvelTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount());
    ASSERT_TRUE(m_store.CreateKey(m_key + L"\\Products\\OmbrixSimulator"))
        << "HKEY_LOCAL_MACHINE must be writable for these tests; error " << OS::GetLastError();
  }
  void TearDown() override { m_store.DeleteKey(m_key); }

  OS::RegistryStore m_store;
  std::wstring m_key;
};

TEST_F(RegistryKey, ValuesMakeTheRoundTripThroughTheSystemRegistry) {
  const std::wstring product = m_key + L"\\Products\\OmbrixSimulator";
  ASSERT_TRUE(m_store.SetString(product, L"ProductInstallPath", L"C:\\Games\\Ombrix \u00e9"));
  ASSERT_TRUE(m_store.SetDword(product, L"IsPatching", 1));

  std::wstring text;
  ASSERT_TRUE(m_store.GetString(m_key + L"\\products\\OMBRIXSIMULATOR\\", L"productinstallpath", text));
  EXPECT_EQ(text, L"C:\\Games\\Ombrix \u00e9");
  std::uint32_t number = 0;
  ASSERT_TRUE(m_store.GetDword(product, L"IsPatching", number));
  EXPECT_EQ(number, 1u);

  // What the store wrote is what any program reads with the system calls.
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof(value);
  EXPECT_EQ(::RegQueryValueExW(key, L"IsPatching", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 1u);
  ::RegCloseKey(key);

  EXPECT_TRUE(m_store.DeleteValue(product, L"IsPatching"));
  EXPECT_FALSE(m_store.GetDword(product, L"IsPatching", number));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKey, TypesAndMissingKeysFailWithTheirCodes) {
  const std::wstring product = m_key + L"\\Products\\OmbrixSimulator";
  ASSERT_TRUE(m_store.SetDword(product, L"Number", 7));
  std::wstring text;
  EXPECT_FALSE(m_store.GetString(product, L"Number", text));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(m_store.GetString(product, L"Missing", text));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(m_store.SetString(m_key + L"\\NoSuchKey", L"Name", L"x"));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(m_store.KeyExists(m_key + L"\\NoSuchKey"));
  EXPECT_TRUE(m_store.CanWrite(product));
  EXPECT_FALSE(m_store.DeleteKey(L""));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_ACCESS_DENIED);
}

TEST_F(RegistryKey, SubkeysEnumerateWithoutCaseAndInfoCountsThem) {
  const std::wstring products = m_key + L"\\Products";
  ASSERT_TRUE(m_store.CreateKey(products + L"\\beta"));
  ASSERT_TRUE(m_store.CreateKey(products + L"\\Alpha"));
  ASSERT_TRUE(m_store.SetString(products, L"ProductClass", L"Ombrix"));
  const std::vector<std::wstring> names = m_store.EnumSubkeys(products);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], L"Alpha");
  EXPECT_EQ(names[1], L"beta");
  EXPECT_EQ(names[2], L"OmbrixSimulator");
  OS::RegistryKeyInfo info;
  ASSERT_TRUE(m_store.QueryInfo(products, info));
  EXPECT_EQ(info.subkeyCount, 3u);
  EXPECT_EQ(info.longestSubkeyName, 15u);
  EXPECT_EQ(info.valueCount, 1u);
}

TEST_F(RegistryKey, ValuesListTheirTypesAndDeletingAKeyTakesItsSubkeys) {
  const std::wstring product = m_key + L"\\Products\\OmbrixSimulator";
  ASSERT_TRUE(m_store.SetString(product, L"Name", L"text"));
  ASSERT_TRUE(m_store.SetDword(product, L"Count", 3));
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  const BYTE raw[] = {0xde, 0xad};
  ASSERT_EQ(::RegSetValueExW(key, L"Blob", 0, REG_BINARY, raw, sizeof(raw)), ERROR_SUCCESS);
  ::RegCloseKey(key);

  std::vector<OS::RegistryValue> values;
  ASSERT_TRUE(m_store.GetValues(product, values));
  ASSERT_EQ(values.size(), 3u);
  for (const OS::RegistryValue& value : values) {
    if (value.name == L"Name") {
      EXPECT_EQ(value.type, OS::RegistryValueType::String);
      EXPECT_EQ(value.text, L"text");
    } else if (value.name == L"Count") {
      EXPECT_EQ(value.type, OS::RegistryValueType::Dword);
      EXPECT_EQ(value.dword, 3u);
    } else {
      EXPECT_EQ(value.name, L"Blob");
      EXPECT_EQ(value.type, OS::RegistryValueType::Other);
      EXPECT_EQ(value.text, L"hex:de,ad");
    }
  }
  ASSERT_TRUE(m_store.DeleteKey(m_key + L"\\Products"));
  EXPECT_FALSE(m_store.KeyExists(product));
  EXPECT_TRUE(m_store.KeyExists(m_key));
}

}  // namespace

#endif  // _WIN32
