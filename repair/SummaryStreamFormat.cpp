#include "repair/SummaryStreamFormat.h"

#include <vector>

#include "repair/Utf16Name.h"

namespace NolkUtil {
namespace {

constexpr std::size_t kWriteBlock = 64 * 1024;

}  // namespace

void AppendLe32(std::uint32_t value, std::string& bytes) {
  const char le[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                      static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  bytes.append(le, sizeof le);
}

void AppendLe64(std::uint64_t value, std::string& bytes) {
  AppendLe32(static_cast<std::uint32_t>(value), bytes);
  AppendLe32(static_cast<std::uint32_t>(value >> 32), bytes);
}

std::uint32_t LoadLe32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

std::uint64_t LoadLe64(const unsigned char* bytes) {
  return std::uint64_t{LoadLe32(bytes)} | (std::uint64_t{LoadLe32(bytes + 4)} << 32);
}

void AppendCountedName(const std::wstring& name, std::string& bytes) {
  AppendLe32(static_cast<std::uint32_t>(Utf16Length(name)), bytes);
  AppendUtf16Le(name, bytes);
}

NolkResult ReadCountedName(NolkDataBuffer& source, std::wstring& name) {
  unsigned char count[4];
  NolkResult result = source.ReadData(count, sizeof count);
  if (result != NOLKRESULT_OK) return result;
  const std::uint32_t units = LoadLe32(count);
  if (units > kMaxNameUnits) return NOLKRESULT_WRONG_FORMAT;
  std::vector<unsigned char> bytes(std::size_t{units} * 2);
  result = source.ReadData(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  if (result != NOLKRESULT_OK) return result;
  name = DecodeUtf16Le(bytes.data(), units);
  return NOLKRESULT_OK;
}

BlockWriter::BlockWriter(NolkDataBuffer& destination) : m_destination(destination) {
  m_pending.reserve(2 * kWriteBlock);
}

void BlockWriter::WriteIfFull() {
  if (m_pending.size() >= kWriteBlock) WritePending();
}

NolkResult BlockWriter::Finish() {
  WritePending();
  return m_result;
}

void BlockWriter::WritePending() {
  if (m_pending.empty()) return;
  const NolkResult result =
      m_destination.WriteData(m_pending.data(), static_cast<std::uint32_t>(m_pending.size()));
  if (m_result == NOLKRESULT_OK) m_result = result;
  m_pending.clear();
}

}  // namespace NolkUtil
