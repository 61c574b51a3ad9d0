#include "EngineTestSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "KernelStandard/Md5.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/RegistryStore.h"
#include "patch/DiffStep.h"
#include "patch/PatchEngine.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/PatchSettings.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace enginetest {
namespace {

NolkPatch::FileListEntry Entry(const std::string& path, const std::string& newMd5,
                               const std::string& oldMd5) {
  return {NolkUtil::ToWide(path), NolkUtil::ToWide(newMd5), NolkUtil::ToWide(oldMd5)};
}

fs::path ConverterDiff(const fs::path& data) {
  return data.parent_path() / (data.stem().string() + "-diff" + data.extension().string());
}

}  // namespace

std::string Md5(const std::string& bytes) {
  return NolkUtil::Md5Hex(bytes);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream << bytes;
}

std::string FormatList(const std::vector<NolkPatch::FileListEntry>& entries) {
  std::string text;
  for (const auto& entry : entries) {
    text += NolkUtil::ToNarrow(entry.path) + "\r\n" + NolkUtil::ToNarrow(entry.newChecksum) + "\r\n" +
            NolkUtil::ToNarrow(entry.oldChecksum) + "\r\n";
  }
  return text;
}

std::wstring Wide(const fs::path& path) {
  return NolkUtil::ToWide(path.string());
}

fs::path ListPathToRelative(const std::string& listPath) {
  std::string relative = listPath;
#ifndef _WIN32
  std::replace(relative.begin(), relative.end(), '\\', '/');
#endif
  return fs::path(relative);
}

void EngineTest::SetUp() {
  char pattern[] = "/tmp/korvel-engine-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
#ifdef _WIN32
  // With its drive and in Windows' own spelling, as the tools see their
  // folders and files.
  m_root = fs::absolute(pattern);
#else
  m_root = pattern;
#endif
  m_install = m_root / "install";
  m_patch = m_root / "patch";
  fs::create_directories(m_install / "bin");
  fs::create_directories(m_patch / "data");
  setenv("KORVEL_REGISTRY", (m_root / "registry.reg").string().c_str(), 1);
  setenv("FAKE_TOOL_LOG", ToolLog().string().c_str(), 1);
  setenv("FAKE_TOOL_SCRIPTS", (m_root / "tool-scripts").string().c_str(), 1);
  ASSERT_TRUE(OS::RegistryStore::Default().CreateKey(kProductKey));

  NolkPatch::PatchEngineCallbacks callbacks;
  callbacks.message = [this](int level, const std::wstring& text) { m_messages.emplace_back(level, text); };
  callbacks.total = [this](unsigned total) { m_totals.push_back(total); };
  NolkPatch::SetPatchEngineCallbacks(callbacks);
  NolkPatch::PatchSettings::Get().InstallPath = Wide(m_install);
}

void EngineTest::TearDown() {
  NolkPatch::SetPatchEngineCallbacks({});
  NolkPatch::PatchSettings::Get().Reset();
  unsetenv("FAKE_TOOL_LOG");
  unsetenv("FAKE_TOOL_SCRIPTS");
  unsetenv("KORVEL_REGISTRY");
  std::error_code ignored;
  fs::remove_all(m_root, ignored);
}

void EngineTest::WriteInstalled(const std::string& listPath, const std::string& bytes) {
  WriteBytes(Installed(listPath), bytes);
}

void EngineTest::AddFile(const std::string& listPath, const std::string& bytes) {
  WriteBytes(PatchData(listPath), bytes);
  m_added.push_back(Entry(listPath, Md5(bytes), ""));
}

void EngineTest::RemoveFile(const std::string& listPath) {
  m_deleted.push_back(Entry(listPath, "", ""));
}

void EngineTest::ChangeFile(const std::string& listPath, const std::string& oldBytes,
                            const std::string& newBytes) {
  WriteInstalled(listPath, oldBytes);
  const fs::path data = PatchData(listPath);
  WriteBytes(data.string() + ".diff", newBytes);
  if (NolkPatch::HasConverterName(NolkUtil::ToWide(data.filename().string()))) {
    WriteBytes(ConverterDiff(data), newBytes);
  }
  m_patched.push_back(Entry(listPath, Md5(newBytes), Md5(oldBytes)));
}

void EngineTest::WriteLists() {
  WriteBytes(m_patch / "addedFiles.txt", FormatList(m_added));
  WriteBytes(m_patch / "deletedFiles.txt", FormatList(m_deleted));
  WriteBytes(m_patch / "patchedFiles.txt", FormatList(m_patched));
}

bool EngineTest::Apply() {
  WriteLists();
  return NolkPatch::ApplyPatch(Wide(m_install), Wide(m_patch), L"NolkLauncher.exe");
}

void EngineTest::InstallScriptedTool(const std::string& toolName, const std::vector<std::string>& steps) {
  std::string script;
  for (const std::string& step : steps) script += step + "\n";
  WriteBytes(m_root / "tool-scripts" / toolName, script);
  fs::copy_file(SCRIPTED_TOOL, m_install / "bin" / toolName, fs::copy_options::overwrite_existing);
}

// The diff tool's and the converter's exit codes: 1 wrong command line (the
// converter's own usage error is 64), 2 old file unreadable, 3 diff
// unreadable, 4 output not writable.
void EngineTest::InstallCopyingDiffTool() {
  InstallScriptedTool("vpatchl-w32.exe", {"log", "args 3 1", "file 1 2", "file 2 3", "copy 2 3 4"});
}

void EngineTest::InstallExitingDiffTool(int exitCode) {
  InstallScriptedTool("vpatchl-w32.exe", {"log", "exit " + std::to_string(exitCode)});
}

void EngineTest::InstallCopyingConverter() {
  InstallScriptedTool("VAConverter.exe",
                      {"log", "arg 1 patchapply 64", "file 2 2", "file 3 3", "copy 3 4 4"});
}

std::vector<std::string> EngineTest::ToolCalls() const {
  std::vector<std::string> calls;
  std::istringstream log(ReadBytes(ToolLog()));
  for (std::string line; std::getline(log, line);) calls.push_back(line);
  return calls;
}

bool EngineTest::HasMessage(int level, const std::wstring& text) const {
  return std::find(m_messages.begin(), m_messages.end(), std::make_pair(level, text)) != m_messages.end();
}

bool EngineTest::HasMessageStarting(int level, const std::wstring& text) const {
  return std::any_of(m_messages.begin(), m_messages.end(), [&](const std::pair<int, std::wstring>& message) {
    return message.first == level && message.second.starts_with(text);
  });
}

std::optional<std::uint32_t> EngineTest::PatchingFlag() const {
  std::uint32_t value = 0;
  if (!OS::RegistryStore::Default().GetDword(kProductKey, L"IsPatching", value)) return std::nullopt;
  return value;
}

}  // namespace enginetest
