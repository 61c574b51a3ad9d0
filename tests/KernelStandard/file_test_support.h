// A fresh folder under /tmp for each file test, made the current folder
// (compressed writing puts its temporary file there), plus helpers that
// read and write whole files behind Vek::File's back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace korvel_test {

using Bytes = std::vector<std::uint8_t>;

// A rule that fails every matching call after the first `skip` ones.
inline OS::FaultRule Fault(const std::string& operation, const std::string& pathContains = "", int skip = 0) {
  OS::FaultRule rule;
  rule.operation = operation;
  rule.pathContains = pathContains;
  rule.skip = skip;
  return rule;
}

class FileTestFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel_file_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(m_folder);
  }
  void TearDown() override {
    std::filesystem::current_path(m_previous);
    std::filesystem::remove_all(m_folder);
  }

  std::wstring PathOf(const std::string& name) const { return (m_folder / name).wstring(); }

  Bytes ReadRaw(const std::string& name) const {
    std::ifstream in(m_folder / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void WriteRaw(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(m_folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::filesystem::path m_folder;
  std::filesystem::path m_previous;
};

}  // namespace korvel_test
