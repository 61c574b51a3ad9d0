// A fixture for patch runs: a fresh temporary folder with an installation
// ("install", with its tools folder "install/bin"), a patch folder
// ("patch"), a registry store of its own holding the product key, and the
// engine's messages collected. Entries are queued with AddFile, RemoveFile
// and ChangeFile (their payload is written at once) and the three lists are
// written by WriteLists / Apply.
//
// The fake tools are the scripted stand-in (tests/fixtures/ScriptedTool)
// under the real tool names. The fake diff tool and converter "apply" a diff
// by copying it to the new file, so a patch folder's diff of a changed file
// is simply the new contents; both log each call
// ("<cwd>|<program>|<arguments>") to ToolLog().
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "KernelStandard/TextConvert.h"
#include "patch/FileList.h"

namespace enginetest {

namespace fs = std::filesystem;

inline constexpr wchar_t kProductKey[] = L"Software\\Korvel\\Products\\OmbrixSimulator";

std::string Md5(const std::string& bytes);
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);
// The bytes of a list: three CR LF terminated lines per entry.
std::string FormatList(const std::vector<NolkPatch::FileListEntry>& entries);
std::wstring Wide(const fs::path& path);
// "bin\\x.dll" -> "bin/x.dll" (kept as it is on Windows, whose own
// separator it already uses).
fs::path ListPathToRelative(const std::string& listPath);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  fs::path Installed(const std::string& listPath) const { return m_install / ListPathToRelative(listPath); }
  fs::path PatchData(const std::string& listPath) const {
    return m_patch / "data" / ListPathToRelative(listPath);
  }
  // The engine's own spelling of an installation / patch data path.
  std::wstring Target(const std::string& listPath) const {
    return Wide(m_install) + L"\\" + NolkUtil::ToWide(listPath);
  }
  // An installation path as messages show it to the player.
  std::wstring Shown(const std::string& listPath) const {
    std::wstring shown = Wide(Installed(listPath));
#ifdef _WIN32
    // Windows shows its own separator throughout.
    std::replace(shown.begin(), shown.end(), L'/', L'\\');
#endif
    return shown;
  }
  std::wstring Source(const std::string& listPath) const {
    return Wide(m_patch) + L"\\data\\" + NolkUtil::ToWide(listPath);
  }
  void WriteInstalled(const std::string& listPath, const std::string& bytes);

  void AddFile(const std::string& listPath, const std::string& bytes);
  void RemoveFile(const std::string& listPath);
  // A changed file: installed with oldBytes, diff (and, for ".va" names, the
  // converter's diff) holding newBytes.
  void ChangeFile(const std::string& listPath, const std::string& oldBytes, const std::string& newBytes);
  void WriteLists();
  bool Apply();

  // The scripted stand-in as install/bin/<toolName>, following `steps`.
  void InstallScriptedTool(const std::string& toolName, const std::vector<std::string>& steps);
  void InstallCopyingDiffTool();
  void InstallExitingDiffTool(int exitCode);
  void InstallCopyingConverter();
  fs::path ToolLog() const {
    return m_root / "tool.log";
  }
  std::vector<std::string> ToolCalls() const;

  bool HasMessage(int level, const std::wstring& text) const;
  // A message that begins with the text (messages about a failed file end
  // with the system's reason).
  bool HasMessageStarting(int level, const std::wstring& text) const;
  std::optional<std::uint32_t> PatchingFlag() const;

  fs::path m_root;
  fs::path m_install;
  fs::path m_patch;
  std::vector<NolkPatch::FileListEntry> m_added;
  std::vector<NolkPatch::FileListEntry> m_deleted;
  std::vector<NolkPatch::FileListEntry> m_patched;
  std::vector<std::pair<int, std::wstring>> m_messages;
  std::vector<unsigned> m_totals;
};

}  // namespace enginetest
