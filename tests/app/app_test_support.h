// Shared helpers of the application tests: a fresh folder under /tmp, a
// private registry store, environment overrides, a recording message target
// and the toolkit's initialisation (needed for its threads).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <wx/init.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/core/Messaging.h"
#include "patch/PatchSettings.h"

namespace app_test {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/korvel-app-XXXXXX";
    if (const char* created = mkdtemp(pattern)) m_path = created;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) {
      std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
      std::filesystem::remove_all(m_path, ignored);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& relative) const { return m_path / relative; }
  std::wstring Wide(const std::string& relative = "") const {
    return relative.empty() ? m_path.wstring() : (m_path / relative).wstring();
  }
  void WriteFile(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories((m_path / relative).parent_path());
    std::ofstream(m_path / relative, std::ios::binary) << content;
  }

 private:
  std::filesystem::path m_path;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sets (or unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = getenv(name)) m_old = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// The settings are process-wide: every test starts from the start-up state.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { NolkPatch::PatchSettings::Get().Reset(); }
  void TearDown() override { NolkPatch::PatchSettings::Get().Reset(); }
};

struct RecordedEvent {
  int level;  // -1 marks the end-of-run notice
  std::wstring text;
};

// Records everything posted while it is registered.
class RecordingTarget : public NolkPatch::MessageTarget {
 public:
  RecordingTarget() { NolkPatch::SetMessageTarget(this); }
  ~RecordingTarget() override { NolkPatch::SetMessageTarget(nullptr); }

  void OnPatchMessage(int level, const std::wstring& text) override {
    std::lock_guard lock(m_mutex);
    m_events.push_back({level, text});
  }
  void OnThreadDone() override {
    std::lock_guard lock(m_mutex);
    m_events.push_back({-1, L""});
  }
  std::vector<RecordedEvent> Events() {
    std::lock_guard lock(m_mutex);
    return m_events;
  }
  std::vector<std::wstring> Texts() {
    std::vector<std::wstring> texts;
    for (const RecordedEvent& event : Events()) texts.push_back(event.level < 0 ? L"<done>" : event.text);
    return texts;
  }

 private:
  std::mutex m_mutex;
  std::vector<RecordedEvent> m_events;
};

}  // namespace app_test
