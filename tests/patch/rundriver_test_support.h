// Fixture of the run driver tests: a fresh folder under /tmp that holds the
// temporary root ("temp"), an installation folder ("install") and a
// registry store of its own; the driver's messages recorded through the
// log sink; the run settings reset around every test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "patch/PatchSettings.h"

namespace rundrivertest {

namespace fs = std::filesystem;

using Message = std::pair<int, std::wstring>;

// Sets or unsets an environment variable while it lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

class RunDriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::vector<Message> Messages();
  static std::vector<std::wstring> Texts();
  // The folders directly inside the temporary root.
  std::vector<fs::path> TemporaryFolders() const;
  void UseTemporaryRoot(const fs::path& root);

  fs::path m_root;
  fs::path m_temp;
  fs::path m_install;
  std::optional<ScopedVariable> m_tempVariable;
  std::optional<ScopedVariable> m_registryVariable;
};

}  // namespace rundrivertest
