#include "uninstlog_builder.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "patch/Crc32.h"
#include "patch/PatchEngineCallbacks.h"
#include "patch/UninstallLog.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace uninstlog {

using namespace NolkPatch;

std::uint32_t GetU32(const ByteVector& bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void PutU32(ByteVector& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

static void AppendU32(ByteVector& bytes, std::uint32_t value) {
  bytes.resize(bytes.size() + 4);
  PutU32(bytes, bytes.size() - 4, value);
}

ByteVector FillerRecords(std::size_t size, unsigned seed) {
  ByteVector bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 31 + seed * 7) % 251);
  return bytes;
}

ByteVector ClosingRecord() {
  ByteVector closing(kUninstallClosingRecordSize);
  for (std::size_t i = 0; i < closing.size(); ++i) closing[i] = static_cast<unsigned char>(0xC0 + i);
  return closing;
}

void ResealHeader(ByteVector& log) {
  PutU32(log, kUninstallHeaderCrcOffset, Crc32::Of(log.data(), kUninstallHeaderCrcOffset));
}

void ResealBlock(ByteVector& log, std::size_t offset) {
  PutU32(log, offset + 8, Crc32::Of(log.data() + offset + 12, GetU32(log, offset)));
}

ByteVector BuildLog(const ByteVector& records, std::int32_t recordCount) {
  ByteVector log(kUninstallHeaderSize);
  for (std::size_t i = 0; i < kUninstallHeaderCrcOffset; ++i) log[i] = static_cast<unsigned char>(i * 13);
  ByteVector data = records;
  const ByteVector closing = ClosingRecord();
  data.insert(data.end(), closing.begin(), closing.end());
  for (std::size_t start = 0; start < data.size(); start += kUninstallBlockDataSize) {
    const std::size_t size = std::min(kUninstallBlockDataSize, data.size() - start);
    AppendU32(log, static_cast<std::uint32_t>(size));
    AppendU32(log, ~static_cast<std::uint32_t>(size));
    AppendU32(log, Crc32::Of(data.data() + start, size));
    log.insert(log.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
               data.begin() + static_cast<std::ptrdiff_t>(start + size));
  }
  PutU32(log, kUninstallRecordCountOffset, static_cast<std::uint32_t>(recordCount));
  PutU32(log, kUninstallEndOffsetOffset, static_cast<std::uint32_t>(log.size()));
  ResealHeader(log);
  return log;
}

ReadLog ReadBack(const ByteVector& log) {
  ReadLog read;
  if (log.size() < kUninstallHeaderSize) return read;
  if (GetU32(log, kUninstallHeaderCrcOffset) != Crc32::Of(log.data(), kUninstallHeaderCrcOffset)) return read;
  read.recordCount = static_cast<std::int32_t>(GetU32(log, kUninstallRecordCountOffset));
  read.endOffset = static_cast<std::int32_t>(GetU32(log, kUninstallEndOffsetOffset));
  std::size_t offset = kUninstallHeaderSize;
  while (offset < log.size()) {
    if (log.size() - offset < 12) return read;
    const std::uint32_t size = GetU32(log, offset);
    if (GetU32(log, offset + 4) != ~size || size > kUninstallBlockDataSize) return read;
    if (log.size() - offset - 12 < size) return read;
    if (Crc32::Of(log.data() + offset + 12, size) != GetU32(log, offset + 8)) return read;
    // Only the last block may be short.
    if (!read.sizes.empty() && read.sizes.back() != kUninstallBlockDataSize) return read;
    read.sizes.push_back(size);
    read.data.insert(read.data.end(), log.begin() + static_cast<std::ptrdiff_t>(offset + 12),
                     log.begin() + static_cast<std::ptrdiff_t>(offset + 12 + size));
    offset += 12 + size;
  }
  read.valid = true;
  return read;
}

ByteVector ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const ByteVector& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string AddedList(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) text += path + "\r\n0123456789abcdef0123456789abcdef\r\n\r\n";
  return text;
}

void UninstallLogTest::SetUp() {
  char pattern[] = "/tmp/uninstlog_test_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_root = pattern;
  m_install = m_root / "install";
  m_patch = m_root / "patch";
  std::filesystem::create_directories(m_install);
  std::filesystem::create_directories(m_patch);
  PatchEngineCallbacks callbacks;
  callbacks.message = [this](int level, const std::wstring& text) { m_messages.emplace_back(level, text); };
  SetPatchEngineCallbacks(std::move(callbacks));
}

void UninstallLogTest::TearDown() {
  SetPatchEngineCallbacks(PatchEngineCallbacks{});
  std::filesystem::remove_all(m_root);
}

void UninstallLogTest::WriteAdded(const std::vector<std::string>& paths) {
  WriteText(m_patch / "addedFiles.txt", AddedList(paths));
}

bool UninstallLogTest::Update() {
  return UpdateUninstallLog(m_install.wstring(), m_patch.wstring());
}

std::string UninstallLogTest::RecordPath(const std::string& listPath) const {
  return m_install.string() + "/" + listPath;
}

std::vector<std::string> UninstallLogTest::InstallEntries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(m_install))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool UninstallLogTest::HasMessage(int level, const std::wstring& text) const {
  return std::find(m_messages.begin(), m_messages.end(), std::make_pair(level, text)) != m_messages.end();
}

}  // namespace uninstlog
