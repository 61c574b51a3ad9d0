// The Windows resources every program carries (built from
// resources/windows/program.rc.in): the string table as STRINGTABLE
// resources in the table's four languages, the icon, the version
// information and the manifest. Read back from this test program's own
// image, so they check what the resource compiler really produced. Built
// into resources_tests by the Windows build only.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "resources/StringTable.h"

namespace {

// The text of string resource `id` in `language`: string resources are kept
// in blocks of 16 counted UTF-16 strings, block n holding ids 16(n-1) to
// 16n-1. Nothing when the block or the string is missing (the resource
// compiler leaves a missing string at length 0).
std::optional<std::wstring> StringResource(std::uint16_t id, std::uint16_t language) {
  HRSRC block = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (block == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, block);
  if (loaded == nullptr) return std::nullopt;
  const auto* text = static_cast<const wchar_t*>(LockResource(loaded));
  for (int skip = 0; skip < id % 16; ++skip) text += 1 + static_cast<std::uint16_t>(*text);
  const auto length = static_cast<std::uint16_t>(*text);
  if (length == 0) return std::nullopt;
  return std::wstring(text + 1, length);
}

std::vector<std::uint8_t> OwnVersionInfo() {
  wchar_t path[MAX_PATH];
  const DWORD pathLength = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (pathLength == 0 || pathLength == MAX_PATH) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<std::uint8_t> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data())) return {};
  return info;
}

std::wstring VersionString(std::vector<std::uint8_t>& info, const wchar_t* name) {
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(WindowsResources, EveryTextOfTheTableIsAStringResourceInItsLanguage) {
  std::size_t checked = 0;
  for (const NolkPatch::StringTableEntry& entry : NolkPatch::StringTableEntries()) {
    const std::optional<std::wstring> resource = StringResource(entry.id, entry.language);
    ASSERT_TRUE(resource.has_value()) << "id " << entry.id << ", language " << entry.language;
    EXPECT_EQ(*resource, entry.text) << "id " << entry.id << ", language " << entry.language;
    ++checked;
  }
  // Four languages of the ids 121 to 242 that have a text.
  EXPECT_GT(checked, 4u * 50u);
}

TEST(WindowsResources, IdsWithoutATextHaveNoStringResource) {
  // 131 has no text in any language; 243 is past the table.
  for (std::uint16_t language : {NolkPatch::LANGUAGE_ENGLISH, NolkPatch::LANGUAGE_GERMAN,
                                 NolkPatch::LANGUAGE_FRENCH, NolkPatch::LANGUAGE_RUSSIAN}) {
    EXPECT_FALSE(StringResource(131, language).has_value()) << language;
    EXPECT_FALSE(StringResource(243, language).has_value()) << language;
  }
}

TEST(WindowsResources, VersionInformationNamesTheProductAndTheFile) {
  std::vector<std::uint8_t> info = OwnVersionInfo();
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Korvel Patcher");
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"Korvel");
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"resources_tests.exe");

  // The fixed block and the text give the same four numbers.
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                               std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                               std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(VersionString(info, L"FileVersion"), numbers);
}

TEST(WindowsResources, IconAndManifestArePresent) {
  EXPECT_NE(FindResourceW(nullptr, L"nolkIcon", RT_GROUP_ICON), nullptr);
  HRSRC manifest = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, manifest)));
  const std::string text(bytes, SizeofResource(nullptr, manifest));
  // A test program runs with the rights of whoever starts it.
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
}

}  // namespace
