// Helpers for the repair tests: a scratch installation folder, the plain
// bitwise definition of the segment checksum to check the fast ones against,
// and random bytes. Fixtures are made and inspected with std::filesystem, so
// the code under test is checked by independent means.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/platform/FaultInjection.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace RepairTest {

using Bytes = std::vector<std::uint8_t>;

// Joins texts; written out because GCC 12 at -O3 warns falsely about
// "literal" + std::string temporaries.
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

// The checksum exactly as defined: per byte, crc ^= byte << 24, then eight
// shifts with the polynomial 0x04C11DB7.
inline std::uint32_t BitwiseCrc(const void* data, std::size_t length, std::uint32_t crc = 0) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= std::uint32_t{bytes[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

inline Bytes RandomBytes(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes(length);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

// A fault rule that fails every call of the operation on matching paths.
inline OS::FaultRule FailCalls(const std::string& operation, const std::string& pathContains) {
  OS::FaultRule rule;
  rule.operation = operation;
  rule.pathContains = pathContains;
  return rule;
}

// A fresh folder under /tmp, removed with everything in it at the end.
class Installation {
 public:
  Installation() {
    char pattern[] = "/tmp/korvel-repair-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
  }
  ~Installation() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  bool Valid() const { return !m_path.empty(); }
  std::filesystem::path Native(const std::string& relative) const { return m_path / relative; }
  // The program's form of a path below the folder ("/" joined, as JoinPath).
  std::wstring Wide(const std::wstring& relative = L"") const {
    return relative.empty() ? m_path.wstring() : m_path.wstring() + L"/" + relative;
  }

  void Write(const std::string& relative, const Bytes& bytes) const {
    std::filesystem::create_directories(Native(relative).parent_path());
    std::ofstream(Native(relative), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Write(const std::string& relative, const std::string& text) const {
    Write(relative, Bytes(text.begin(), text.end()));
  }
  Bytes Read(const std::string& relative) const {
    std::ifstream in(Native(relative), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // Overwrites bytes in place and then puts the old modification time back,
  // as a tool that preserves times would.
  void OverwriteKeepingTime(const std::string& relative, std::uint64_t offset,
                            const std::string& text) const {
    const auto time = std::filesystem::last_write_time(Native(relative));
    std::fstream file(Native(relative), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    std::filesystem::last_write_time(Native(relative), time);
  }
  // The file's modification time in seconds since 1970.
  std::uint64_t ModifiedSeconds(const std::string& relative) const {
    const auto time = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(Native(relative)));
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count());
  }
  // Moves the file's modification time by whole seconds.
  void ShiftTime(const std::string& relative, int seconds) const {
    const auto path = Native(relative);
    std::filesystem::last_write_time(path,
                                     std::filesystem::last_write_time(path) + std::chrono::seconds(seconds));
  }
  // A file of the given length whose bytes are all zero, without writing
  // them (a sparse file), optionally with data written at an offset.
  void Sparse(const std::string& relative, std::uint64_t length) const {
    std::filesystem::create_directories(Native(relative).parent_path());
    std::ofstream(Native(relative), std::ios::binary | std::ios::trunc).close();
    std::filesystem::resize_file(Native(relative), length);
  }

 private:
  std::filesystem::path m_path;
};

// Creates a new file from a pattern ending in "XXXXXX" and opens it for
// reading and writing; the descriptor or -1. MinGW's mkstemp opens the file
// for this process's descriptor alone, so it could not be read back by name
// while open; hence the C runtime's own calls there.
inline int MakeScratchFile(char* pattern) {
#ifdef _WIN32
  if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return -1;
  return _open(pattern, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return mkstemp(pattern);
#endif
}

// Catches what is written to the standard output (file descriptor 1), by
// pointing the descriptor at a scratch file, until the first look at the
// text (or the end of the object), so that test failures reported after
// that look reach the real output again.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    char pattern[] = "/tmp/korvel-repair-stdout-XXXXXX";
    m_fd = MakeScratchFile(pattern);
    if (m_fd < 0) return;
    m_path = pattern;
    m_saved = dup(STDOUT_FILENO);
    dup2(m_fd, STDOUT_FILENO);
  }
  ~StdoutCapture() {
    Restore();
    if (m_fd >= 0) close(m_fd);
    if (!m_path.empty()) unlink(m_path.c_str());
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written so far.
  std::string Text() {
    Restore();
    std::ifstream in(m_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool HasLine(const std::string& line) {
    return Cat("\n", Text()).find(Cat("\n", line, "\n")) != std::string::npos;
  }
  std::size_t Count(const std::string& piece) {
    const std::string text = Text();
    std::size_t count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
  }

 private:
  void Restore() {
    if (m_saved < 0) return;
    std::fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    m_saved = -1;
  }

  int m_fd = -1;
  int m_saved = -1;
  std::string m_path;
};

}  // namespace RepairTest
