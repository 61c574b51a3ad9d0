// Helpers shared by the diff tests: reproducible test data, a scratch
// folder, and running the real tool programs.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace DiffTest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

// Compressible, program-like data: repeated records with varying numbers.
inline Bytes StructuredBytes(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes;
  bytes.reserve(length + 64);
  while (bytes.size() < length) {
    const std::string record =
        "entry " + std::to_string(generator() % 5000) + " value=" + std::to_string(generator() % 100) + ";\n";
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  bytes.resize(length);
  return bytes;
}

inline Bytes Spliced(const Bytes& base, std::size_t at, std::size_t removed, const Bytes& inserted) {
  Bytes result(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(at));
  result.insert(result.end(), inserted.begin(), inserted.end());
  result.insert(result.end(), base.begin() + static_cast<std::ptrdiff_t>(at + removed), base.end());
  return result;
}

// A fresh folder under /tmp for each test, removed afterwards.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel_diff_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  std::string PathOf(const std::string& name) const { return (m_folder / name).string(); }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::filesystem::path m_folder;
};

// Runs a program to its end and returns its exit code (-1000 when it could
// not be started or did not end within a minute). Its output is drained so
// a chatty child never blocks on a full pipe.
inline int RunProgram(const std::vector<std::string>& argv) {
  OS::Platform& platform = OS::Current();
  OS::SpawnedProcess child;
  if (!platform.SpawnWithPipe(argv, child)) return -1000;
  char buffer[4096];
  while (platform.ReadPipe(child.outputFd, buffer, sizeof buffer) > 0) {
  }
  platform.ClosePipe(child.outputFd);
  int exitCode = -1000;
  if (!platform.WaitProcess(child.pid, 60000, exitCode)) return -1000;
  return exitCode;
}

}  // namespace DiffTest
