// Helpers for the data-stream tests: a scratch folder, a system-log capture,
// and a memory buffer whose reads can be watched and made to fail.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/Log.h"
#include "stream/NolkDataBufferMemory.h"

namespace StreamTest {

using Bytes = std::vector<std::uint8_t>;

// Makes a fresh folder under /tmp (on Windows under the temporary folder);
// an empty path when that fails.
inline std::filesystem::path NewTempFolder() {
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return {};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("korvel-stream-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, error)) return candidate;
  }
  return {};
#else
  char pattern[] = "/tmp/korvel-stream-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return {};
  return pattern;
#endif
}

// A fresh folder, removed with its contents at the end.
class TempFolder {
 public:
  TempFolder() : m_path(NewTempFolder()) {}
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  bool Valid() const { return !m_path.empty(); }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  std::wstring WideFile(const std::string& name) const { return (m_path / name).wstring(); }

 private:
  std::filesystem::path m_path;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Collects every system-log entry while it exists.
class LogCapture : public NolkSystemLogObserver {
 public:
  LogCapture() { RegisterSystemLogObserver(this); }
  ~LogCapture() override { UnregisterSystemLogObserver(this); }
  void OnLogText(const std::wstring& text) override { m_lines.push_back(text); }
  bool HasLine(const std::wstring& line) const {
    for (const auto& entry : m_lines) {
      if (entry == line + L"\n") return true;
    }
    return false;
  }

 private:
  std::vector<std::wstring> m_lines;
};

// Records the length of every read, can report a size of its choosing (0
// imitates a stream of unknown length), and can fail reads after a number
// of good ones.
class WatchedBuffer : public NolkDataBufferMemoryDynamic {
 public:
  explicit WatchedBuffer(const std::vector<std::uint8_t>& bytes = {}) {
    NolkDataBufferMemoryDynamic::WriteData(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    NolkDataBufferMemoryDynamic::SetPosition(0);
  }
  std::uint64_t GetSize() const override {
    return m_reportedSize.value_or(NolkDataBufferMemoryDynamic::GetSize());
  }
  NolkResult ReadData(void* data, std::uint32_t length) override {
    m_readLengths.push_back(length);
    if (m_goodReads && m_readLengths.size() > *m_goodReads) return m_failure;
    return NolkDataBufferMemoryDynamic::ReadData(data, length);
  }

  void ReportSize(std::uint64_t size) { m_reportedSize = size; }
  void FailReadsAfter(std::size_t goodReads, NolkResult failure) {
    m_goodReads = goodReads;
    m_failure = failure;
  }
  const std::vector<std::uint32_t>& ReadLengths() const { return m_readLengths; }

 private:
  std::optional<std::uint64_t> m_reportedSize;
  std::optional<std::size_t> m_goodReads;
  NolkResult m_failure = NOLKRESULT_OK;
  std::vector<std::uint32_t> m_readLengths;
};

// Incompressible bytes from a small generator.
inline Bytes PatternBytes(std::size_t length, std::uint32_t seed = 1) {
  Bytes bytes(length);
  for (auto& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(seed >> 24);
  }
  return bytes;
}

inline std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace StreamTest
