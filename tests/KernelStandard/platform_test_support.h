// Helpers shared by the platform and registry tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace PlatformTest {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/korvel-platform-XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Native(const std::string& relative = "") const {
    return relative.empty() ? m_path : m_path + "/" + relative;
  }
  std::wstring Wide(const std::string& relative = "") const { return OS::FromUtf8(Native(relative)); }

 private:
  std::string m_path;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets (or, with nullopt, removes) an environment variable for a test and
// restores it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = ::getenv(name)) m_old = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (m_old) {
      ::setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

}  // namespace PlatformTest
