#include "KernelStandard/TextConvert.h"

#include <array>
#include <utility>

namespace NolkUtil {
namespace {

// The characters that keep a byte of their own in the 8-bit form.
constexpr std::array<std::pair<wchar_t, unsigned char>, 9> kSpecial = {{
    {L'\u00AB', 0xAB},
    {L'\u00B0', 0xB0},
    {L'\u00BB', 0xBB},
    {L'\u2013', 0x96},
    {L'\u2018', 0x91},
    {L'\u2019', 0x92},
    {L'\u201C', 0x93},
    {L'\u201D', 0x94},
    {L'\u2026', 0x85},
}};

// Windows-1252 characters for the bytes 0x80..0x9F; 0 where the code page
// leaves the byte undefined (the Latin-1 control code is used then).
constexpr std::array<wchar_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char NarrowChar(wchar_t c) {
  if (c == L'\t' || c == L'\n' || c == L'\r' || (c >= 32 && c <= 127)) return static_cast<char>(c);
  for (const auto& [wide, byte] : kSpecial)
    if (wide == c) return static_cast<char>(byte);
  return '?';
}

wchar_t WideChar(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xA0 && kCp1252High[byte - 0x80] != 0) return kCp1252High[byte - 0x80];
  return byte;
}

}  // namespace

std::string ToNarrow(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(NarrowChar(c));
  return out;
}

std::wstring ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (char c : text) out.push_back(WideChar(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace NolkUtil
