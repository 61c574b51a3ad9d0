#include "repair/Utf16Name.h"

#include <algorithm>

namespace NolkUtil {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

bool IsLeadSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsTrailSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::uint32_t CodeOf(wchar_t character) {
  const auto code = static_cast<std::uint32_t>(character);
  return code > 0x10FFFF ? kReplacement : code;
}

// The one or two code units of a character; returns how many.
int UnitsOf(wchar_t character, std::uint16_t units[2]) {
  const std::uint32_t code = CodeOf(character);
  if (code < 0x10000) {
    units[0] = static_cast<std::uint16_t>(code);
    return 1;
  }
  const std::uint32_t offset = code - 0x10000;
  units[0] = static_cast<std::uint16_t>(0xD800 + (offset >> 10));
  units[1] = static_cast<std::uint16_t>(0xDC00 + (offset & 0x3FF));
  return 2;
}

// Walks the code units of a wide string from a given character on.
class UnitCursor {
 public:
  UnitCursor(const std::wstring& text, std::size_t start) : m_text(text), m_next(start) {}
  bool Next(std::uint16_t& unit) {
    if (m_pending < m_count) {
      unit = m_units[m_pending++];
      return true;
    }
    if (m_next >= m_text.size()) return false;
    m_count = UnitsOf(m_text[m_next++], m_units);
    m_pending = 1;
    unit = m_units[0];
    return true;
  }

 private:
  const std::wstring& m_text;
  std::size_t m_next;
  std::uint16_t m_units[2] = {};
  int m_count = 0;
  int m_pending = 0;
};

}  // namespace

void AppendUtf16Le(const std::wstring& name, std::string& bytes) {
  std::size_t at = bytes.size();
  bytes.resize(at + 2 * Utf16Length(name));
  std::uint16_t units[2];
  for (const wchar_t character : name) {
    const int count = UnitsOf(character, units);
    for (int i = 0; i < count; ++i, at += 2) {
      bytes[at] = static_cast<char>(units[i] & 0xFF);
      bytes[at + 1] = static_cast<char>(units[i] >> 8);
    }
  }
}

std::size_t Utf16Length(const std::wstring& name) {
  std::size_t length = 0;
  for (const wchar_t character : name) length += CodeOf(character) < 0x10000 ? 1 : 2;
  return length;
}

std::wstring DecodeUtf16Le(const unsigned char* bytes, std::size_t units) {
  std::wstring name;
  name.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t unit = bytes[2 * i] | (std::uint32_t{bytes[2 * i + 1]} << 8);
    // A 16-bit wide string (Windows) holds the code units themselves; a
    // pair joined into one character would not fit.
    if constexpr (sizeof(wchar_t) == 2) {
      name.push_back(static_cast<wchar_t>(unit));
      continue;
    }
    if (IsLeadSurrogate(unit) && i + 1 < units) {
      const std::uint32_t next = bytes[2 * i + 2] | (std::uint32_t{bytes[2 * i + 3]} << 8);
      if (IsTrailSurrogate(next)) {
        name.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00)));
        ++i;
        continue;
      }
    }
    name.push_back(static_cast<wchar_t>(unit));
  }
  return name;
}

bool Utf16Less::operator()(const std::wstring& a, const std::wstring& b) const {
  // Equal leading characters have equal code units, so the comparison starts
  // at the first character that differs.
  const auto difference = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  const auto start = static_cast<std::size_t>(difference.first - a.begin());
  if (difference.second == b.end()) return false;
  if (difference.first == a.end()) return true;
  const std::uint32_t x = CodeOf(*difference.first);
  const std::uint32_t y = CodeOf(*difference.second);
  if (x < 0xD800 && y < 0xD800) return x < y;
  UnitCursor left(a, start);
  UnitCursor right(b, start);
  std::uint16_t l = 0;
  std::uint16_t r = 0;
  while (true) {
    const bool hasLeft = left.Next(l);
    const bool hasRight = right.Next(r);
    if (!hasRight) return false;
    if (!hasLeft) return true;
    if (l != r) return l < r;
  }
}

}  // namespace NolkUtil
