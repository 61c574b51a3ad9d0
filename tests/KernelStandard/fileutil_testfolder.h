// A fresh folder under /tmp for one test, removed with everything in it when
// the test ends. Fixtures are set up and checked with std::filesystem so the
// code under test is verified by independent means.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/KernelStandard/posix_test_shims.h"

namespace fileutil_test {

class TestFolder {
 public:
  TestFolder() {
    char pattern[] = "/tmp/korvel-fileutil-XXXXXX";
    const char* created = mkdtemp(pattern);
    if (created != nullptr) m_path = created;
  }
  ~TestFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  bool Valid() const { return !m_path.empty(); }
  const std::filesystem::path& Path() const { return m_path; }
  // A path below the folder, as native text and as the program's wide text.
  std::filesystem::path Native(const std::string& relative) const { return m_path / relative; }
  std::wstring Wide(const std::wstring& relative = L"") const {
    return relative.empty() ? m_path.wstring() : m_path.wstring() + L"/" + relative;
  }

  void WriteFile(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(Native(relative).parent_path());
    std::ofstream(Native(relative), std::ios::binary) << content;
  }
  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(Native(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void MakeFolder(const std::string& relative) const {
    std::filesystem::create_directories(Native(relative));
  }
  bool Exists(const std::string& relative) const { return std::filesystem::exists(Native(relative)); }

 private:
  std::filesystem::path m_path;
};

}  // namespace fileutil_test
