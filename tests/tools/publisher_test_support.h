// Helpers for the publisher tool tests: a scratch folder, small trees of
// files, and reading back the entries of a written patch archive.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/ArchiveEntryName.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace PublisherTest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::filesystem::path& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

inline std::string Md5Of(const Bytes& bytes) {
  return NolkUtil::Md5Hex(bytes.data(), bytes.size());
}

// Bytes that look like a program: varied but compressible.
inline Bytes ProgramLike(std::size_t length, unsigned seed) {
  Bytes bytes(length);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < length; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>((i % 64 < 40) ? (state >> 24) : (i & 0xFF));
  }
  return bytes;
}

// One entry of an archive as the unpacker sees it.
struct ArchiveEntry {
  std::wstring name;
  bool isFolder = false;
  Bytes content;
};

// Walks a patch archive entry by entry; false when it is malformed.
inline bool ReadArchiveEntries(const std::filesystem::path& path, std::vector<ArchiveEntry>& entries) {
  NolkDataBufferFile archive(OS::FromUtf8(path.string()), NolkDataBufferFile::ReadOnly);
  std::uint8_t version[4] = {};
  if (!archive.IsOpen() || archive.ReadData(version, 4) != NOLKRESULT_OK || version[0] != 1) return false;
  while (archive.GetPosition() < archive.GetSize()) {
    NolkDataBufferMemoryDynamic nameBlock;
    if (NolkUtil::DecompressData(nameBlock, archive) != NOLKRESULT_OK) return false;
    ArchiveEntry entry;
    if (NolkPatch::DecodeNameBlock(nameBlock.Bytes().data(), nameBlock.Bytes().size(), entry.name) !=
        NolkPatch::NameBlockStatus::NAME_OK)
      return false;
    entry.isFolder = NolkPatch::IsFolderEntryName(entry.name);
    if (!entry.isFolder) {
      NolkDataBufferMemoryDynamic content;
      if (NolkUtil::DecompressData(content, archive) != NOLKRESULT_OK) return false;
      entry.content = content.Bytes();
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

// A fresh folder under /tmp for each test, removed afterwards.
class PublisherFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvel_publisher_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(m_root); }

  // Relative names are UTF-8 (a narrow path would be read in the system's
  // code page on Windows).
  static std::filesystem::path Utf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  }
  static std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  }

  // Writes a file below the test folder, creating its folders.
  std::filesystem::path Write(const std::string& relative, const Bytes& bytes) const {
    const std::filesystem::path path = m_root / Utf8(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::filesystem::path Write(const std::string& relative, const std::string& text) const {
    return Write(relative, BytesOf(text));
  }

  std::wstring Wide(const std::string& relative) const {
    return OS::FromUtf8(Utf8Text(m_root / Utf8(relative)));
  }

  std::filesystem::path m_root;
};

}  // namespace PublisherTest
