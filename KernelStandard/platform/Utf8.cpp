// UTF-8 conversion of wide texts for native names.
//
// Bytes that are not valid UTF-8 decode to U+DC80..U+DCFF (one code point
// per byte) and encode back to the same byte, so any native file name
// survives a round trip through a wide string. Other unpaired surrogates and
// values beyond U+10FFFF encode as U+FFFD.
#include <cstdint>

#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string& out, char32_t code) {
  if (code >= kEscapeBase + 0x80 && code <= kEscapeBase + 0xFF) {
    out.push_back(static_cast<char>(code - kEscapeBase));
    return;
  }
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = kReplacement;
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

void AppendWide(std::wstring& out, char32_t code) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(code));
}

// Length of the sequence a lead byte starts, 0 for a byte that cannot lead.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Decodes one sequence at text[pos]; returns its length, 0 when invalid.
int DecodeSequence(const std::string& text, std::size_t pos, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const int length = SequenceLength(lead);
  if (length == 0 || pos + length > text.size()) return 0;
  if (length == 1) {
    code = lead;
    return 1;
  }
  code = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMinimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      const bool high = code >= 0xD800 && code <= 0xDBFF;
      if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t code = 0;
    const int length = DecodeSequence(text, pos, code);
    if (length == 0) {
      AppendWide(out, kEscapeBase + static_cast<unsigned char>(text[pos]));
      ++pos;
    } else {
      AppendWide(out, code);
      pos += length;
    }
  }
  return out;
}

}  // namespace OS
