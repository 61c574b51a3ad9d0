#include "repair/SegmentKey.h"

namespace NolkUtil {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// Position of the '#' that starts the index, or npos when the last path
// component has none.
std::wstring::size_type IndexMark(const std::wstring& key) {
  const auto mark = key.rfind(L'#');
  if (mark == std::wstring::npos) return mark;
  for (auto i = mark + 1; i < key.size(); ++i) {
    if (IsSeparator(key[i])) return std::wstring::npos;
  }
  return mark;
}

struct ParsedNumber {
  std::int64_t value = 0;
  bool fits = true;
  bool plainDigits = false;  // only digits, at least one, up to the end
};

ParsedNumber ParseIndex(const std::wstring& text) {
  ParsedNumber number;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  const std::size_t firstDigit = i;
  std::uint64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - L'0');
    if (magnitude > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10) {
      number.fits = false;
      return number;
    }
    magnitude = magnitude * 10 + digit;
  }
  number.value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  number.plainDigits = firstDigit == 0 && i > 0 && i == text.size();
  return number;
}

}  // namespace

std::uint64_t SegmentCount(std::uint64_t fileLength) {
  return fileLength / kSegmentSize + (fileLength % kSegmentSize != 0 ? 1 : 0);
}

std::wstring MakeSegmentKey(const std::wstring& path, std::int64_t index) {
  // As printf's "%03d": at least three characters, the sign counted among them.
  const std::uint64_t magnitude =
      index < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(index) : static_cast<std::uint64_t>(index);
  std::wstring number = std::to_wstring(magnitude);
  const std::size_t width = index < 0 ? 2 : 3;
  if (number.size() < width) number.insert(0, width - number.size(), L'0');
  std::wstring key = path;
  key += L'#';
  if (index < 0) key += L'-';
  key += number;
  return key;
}

SegmentKeyParts SplitSegmentKey(const std::wstring& key) {
  SegmentKeyParts parts;
  const auto mark = IndexMark(key);
  if (mark == std::wstring::npos) {
    parts.path = key;
    return parts;
  }
  parts.path = key.substr(0, mark);
  const ParsedNumber number = ParseIndex(key.substr(mark + 1));
  if (!number.fits) return parts;
  parts.index = number.value;
  parts.wellFormed = number.plainDigits && number.value <= kMaxSegmentIndex;
  return parts;
}

bool SegmentOffset(std::int64_t index, std::uint64_t& offset) {
  if (index < 0 || index > kMaxSegmentIndex) return false;
  offset = static_cast<std::uint64_t>(index) * kSegmentSize;
  return true;
}

}  // namespace NolkUtil
