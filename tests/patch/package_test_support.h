// Test helpers for the package reader and the archive unpacker: a fresh
// temporary folder per test, whole-file reads and writes, a package builder
// that uses the shared record encoders, and a log observer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "KernelStandard/Log.h"
#include "patch/PackageFormat.h"

namespace packagetest {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes TextBytes(const std::string& text);

// Every file and folder below `root`, as relative paths, except those below
// `skip` (itself included).
std::vector<std::string> TreeListing(const std::filesystem::path& root,
                                     const std::filesystem::path& skip = {});

struct PatchSpec {
  std::string source;
  std::string target;
  Bytes archive;
};

// A package laid out as the packager writes it: `prefix` bytes (standing for
// the executable) padded with filler up to `headerOffset`, the header, the
// archives, the build-hash table and the patch table.
struct PackageLayoutPlan {
  Bytes prefix;
  std::uint64_t headerOffset = 0;
  std::string build = "40040";
  std::vector<std::pair<std::string, std::string>> hashes;  // hash, version
  std::vector<PatchSpec> patches;
};

Bytes BuildPackage(const PackageLayoutPlan& plan);
// The header of a package built by BuildPackage, and its rewrite in place.
NolkPatch::PackageHeader HeaderOf(const Bytes& package, std::uint64_t headerOffset);
void PutHeader(Bytes& package, std::uint64_t headerOffset, const NolkPatch::PackageHeader& header);

// A deterministic stand-in for archive contents.
Bytes PatternBytes(std::size_t size, unsigned seed);

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path m_root;
};

// Collects every system-log entry while it lives.
class LogCapture : public NolkSystemLogObserver {
 public:
  LogCapture() { RegisterSystemLogObserver(this); }
  ~LogCapture() override { UnregisterSystemLogObserver(this); }
  void OnLogText(const std::wstring& text) override;
  bool Contains(const std::wstring& text) const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::wstring> m_lines;
};

}  // namespace packagetest
