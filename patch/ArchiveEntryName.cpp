#include "patch/ArchiveEntryName.h"

namespace NolkPatch {
namespace {

constexpr char32_t kFirstHighSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kPastLowSurrogates = 0xE000;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsHighSurrogate(char32_t unit) {
  return unit >= kFirstHighSurrogate && unit < kFirstLowSurrogate;
}
bool IsLowSurrogate(char32_t unit) {
  return unit >= kFirstLowSurrogate && unit < kPastLowSurrogates;
}
bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

bool AppendCodePoint(char32_t codePoint, std::u16string& units) {
  if (codePoint > kLastCodePoint || (codePoint >= kFirstHighSurrogate && codePoint < kPastLowSurrogates))
    return false;
  if (codePoint < kFirstSupplementary) {
    units.push_back(static_cast<char16_t>(codePoint));
    return true;
  }
  const char32_t offset = codePoint - kFirstSupplementary;
  units.push_back(static_cast<char16_t>(kFirstHighSurrogate + (offset >> 10)));
  units.push_back(static_cast<char16_t>(kFirstLowSurrogate + (offset & 0x3FF)));
  return true;
}

// Joins a surrogate pair, or reports an unpaired one.
bool TakeCodePoint(const std::u16string& units, std::size_t& index, char32_t& codePoint) {
  const char32_t unit = units[index++];
  codePoint = unit;
  if (!IsHighSurrogate(unit)) return !IsLowSurrogate(unit);
  if (index == units.size() || !IsLowSurrogate(units[index])) return false;
  const char32_t low = units[index++];
  codePoint = kFirstSupplementary + ((unit - kFirstHighSurrogate) << 10) + (low - kFirstLowSurrogate);
  return true;
}

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

std::u16string ReadUnits(const std::uint8_t* bytes, std::size_t count) {
  std::u16string units(count, u'\0');
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return units;
}

bool IsOnlyDotsAndSpaces(const std::wstring& component) {
  return component.find_first_not_of(L". ") == std::wstring::npos;
}

bool IsUnsafeComponent(const std::wstring& component) {
  return !component.empty() && component != L"." && IsOnlyDotsAndSpaces(component);
}

bool HasUnsafeComponent(const std::wstring& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (IsUnsafeComponent(name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool EncodeUtf16(const std::wstring& text, std::u16string& units) {
  units.clear();
  if constexpr (sizeof(wchar_t) == 2) {
    units.assign(text.begin(), text.end());
    std::wstring check;
    return DecodeUtf16(units, check);
  } else {
    for (wchar_t character : text)
      if (!AppendCodePoint(static_cast<char32_t>(character), units)) return false;
    return true;
  }
}

bool DecodeUtf16(const std::u16string& units, std::wstring& text) {
  text.clear();
  bool valid = true;
  for (std::size_t index = 0; index < units.size();) {
    const std::size_t first = index;
    char32_t codePoint = 0;
    if (!TakeCodePoint(units, index, codePoint)) {
      valid = false;
      text.push_back(L'?');
    } else if constexpr (sizeof(wchar_t) == 2) {
      text.append(units.begin() + static_cast<std::ptrdiff_t>(first),
                  units.begin() + static_cast<std::ptrdiff_t>(index));
    } else {
      text.push_back(static_cast<wchar_t>(codePoint));
    }
  }
  return valid;
}

std::vector<std::uint8_t> EncodeNameBlock(const std::u16string& units) {
  std::vector<std::uint8_t> block;
  block.reserve(4 + 2 * units.size());
  const auto count = static_cast<std::uint32_t>(units.size());
  for (int shift = 0; shift < 32; shift += 8) block.push_back(static_cast<std::uint8_t>(count >> shift));
  for (char16_t unit : units) {
    block.push_back(static_cast<std::uint8_t>(unit));
    block.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return block;
}

NameBlockStatus DecodeNameBlock(const std::uint8_t* bytes, std::size_t length, std::wstring& name) {
  name.clear();
  if (length < 4) return NameBlockStatus::NAME_NO_COUNT;
  const std::uint64_t count = ReadU32(bytes);
  const std::size_t available = (length - 4) / 2;
  const bool valid = DecodeUtf16(ReadUnits(bytes + 4, count < available ? count : available), name);
  if (count > kMaxEntryNameUnits) return NameBlockStatus::NAME_TOO_LONG;
  if (length - 4 != 2 * count) return NameBlockStatus::NAME_COUNT_MISMATCH;
  return valid ? NameBlockStatus::NAME_OK : NameBlockStatus::NAME_BAD_UTF16;
}

bool IsFolderEntryName(const std::wstring& name) {
  if (!name.empty() && IsSeparator(name.back())) return true;
  const std::size_t lastSeparator = name.find_last_of(L"\\/");
  const std::size_t start = lastSeparator == std::wstring::npos ? 0 : lastSeparator + 1;
  return name.find(L'.', start) == std::wstring::npos;
}

bool IsSafeEntryName(const std::wstring& name) {
  if (name.find(L'\0') != std::wstring::npos) return false;
  if (!name.empty() && IsSeparator(name.front())) return false;
  if (name.find(L':') != std::wstring::npos) return false;
  return !HasUnsafeComponent(name);
}

}  // namespace NolkPatch
