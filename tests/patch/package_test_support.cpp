#include "package_test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/KernelStandard/posix_test_shims.h"

namespace packagetest {

using namespace NolkPatch;

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes TextBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::vector<std::string> TreeListing(const std::filesystem::path& root, const std::filesystem::path& skip) {
  std::vector<std::string> entries;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    if (!skip.empty() && it->path() == skip) {
      it.disable_recursion_pending();
      continue;
    }
    entries.push_back(std::filesystem::relative(it->path(), root).generic_string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

Bytes PatternBytes(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

namespace {

template <std::size_t Size>
void Append(Bytes& bytes, const std::array<std::uint8_t, Size>& record) {
  bytes.insert(bytes.end(), record.begin(), record.end());
}

}  // namespace

Bytes BuildPackage(const PackageLayoutPlan& plan) {
  Bytes file = plan.prefix;
  // Lower-case filler never spells the magic, which starts with 'N'.
  file.resize(plan.headerOffset, 'x');
  file.resize(plan.headerOffset + kPackageHeaderSize);
  std::vector<PatchEntry> patchEntries;
  for (const PatchSpec& patch : plan.patches) {
    PatchEntry entry;
    SetTextField(entry.sourceVersion, patch.source);
    SetTextField(entry.targetVersion, patch.target);
    entry.dataOffset = file.size();
    entry.dataLength = patch.archive.size();
    file.insert(file.end(), patch.archive.begin(), patch.archive.end());
    patchEntries.push_back(entry);
  }
  PackageHeader header;
  SetTextField(header.build, plan.build);
  header.buildHashCount = static_cast<std::uint32_t>(plan.hashes.size());
  header.buildHashTableOffset = file.size();
  for (const auto& [hash, version] : plan.hashes) {
    BuildHashEntry entry;
    SetTextField(entry.hash, hash);
    SetTextField(entry.version, version);
    Append(file, EncodeBuildHashEntry(entry));
  }
  header.patchCount = static_cast<std::uint32_t>(patchEntries.size());
  header.patchTableOffset = file.size();
  for (const PatchEntry& entry : patchEntries) Append(file, EncodePatchEntry(entry));
  header.fileSize = static_cast<std::uint32_t>(file.size());
  PutHeader(file, plan.headerOffset, header);
  return file;
}

PackageHeader HeaderOf(const Bytes& package, std::uint64_t headerOffset) {
  return DecodePackageHeader(
      std::span<const std::uint8_t, kPackageHeaderSize>(package.data() + headerOffset, kPackageHeaderSize));
}

void PutHeader(Bytes& package, std::uint64_t headerOffset, const PackageHeader& header) {
  const PackageHeaderBytes bytes = EncodePackageHeader(header);
  std::copy(bytes.begin(), bytes.end(), package.begin() + static_cast<std::ptrdiff_t>(headerOffset));
}

void TempFolderTest::SetUp() {
  char pattern[] = "/tmp/package_test_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_root = pattern;
}

void TempFolderTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

void LogCapture::OnLogText(const std::wstring& text) {
  std::lock_guard lock(m_mutex);
  m_lines.push_back(text);
}

bool LogCapture::Contains(const std::wstring& text) const {
  std::lock_guard lock(m_mutex);
  return std::any_of(m_lines.begin(), m_lines.end(),
                     [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

}  // namespace packagetest
