// Helpers of the crash-report tests: a private folder for the files a
// crashed child leaves, and whole-file reading.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace CrashTest {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CrashFolder {
 public:
  CrashFolder() {
    char pattern[] = "/tmp/korvel-crash-XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  // The crash-report stand-in runs on after the crashed child and may still
  // be writing its record here, so removing the folder is tried again.
  ~CrashFolder() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::error_code error;
      fs::remove_all(m_path, error);
      if (!error) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  CrashFolder(const CrashFolder&) = delete;
  CrashFolder& operator=(const CrashFolder&) = delete;

  const fs::path& Path() const { return m_path; }
  fs::path operator/(const char* name) const { return m_path / name; }

 private:
  fs::path m_path;
};

}  // namespace CrashTest
