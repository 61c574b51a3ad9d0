#include "patch/Crc32.h"

#include <array>

namespace NolkPatch {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using CrcTable = std::array<std::uint32_t, 256>;

CrcTable BuildTable() {
  CrcTable table{};
  for (std::uint32_t index = 0; index < table.size(); ++index) {
    std::uint32_t value = index;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ kPolynomial : value >> 1;
    table[index] = value;
  }
  return table;
}

// A function-local static is initialised exactly once, even when several
// threads ask for it at the same time.
const CrcTable& Table() {
  static const CrcTable table = BuildTable();
  return table;
}

}  // namespace

void Crc32::Update(const void* data, std::size_t length) {
  const CrcTable& table = Table();
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t state = m_state;
  for (std::size_t i = 0; i < length; ++i) state = table[(state ^ bytes[i]) & 0xFFu] ^ (state >> 8);
  m_state = state;
}

std::uint32_t Crc32::Of(const void* data, std::size_t length) {
  Crc32 crc;
  crc.Update(data, length);
  return crc.Value();
}

}  // namespace NolkPatch
