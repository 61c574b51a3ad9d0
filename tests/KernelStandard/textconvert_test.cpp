#include "KernelStandard/TextConvert.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using NolkUtil::ToNarrow;
using NolkUtil::ToWide;

// The nine typographic characters that keep a byte of their own.
const std::pair<wchar_t, unsigned char> kSpecial[] = {
    {L'\u00AB', 0xAB}, {L'\u00B0', 0xB0}, {L'\u00BB', 0xBB}, {L'\u2013', 0x96}, {L'\u2018', 0x91},
    {L'\u2019', 0x92}, {L'\u201C', 0x93}, {L'\u201D', 0x94}, {L'\u2026', 0x85},
};

std::string Byte(unsigned char value) {
  return std::string(1, static_cast<char>(value));
}

TEST(TextConvertToNarrow, CopiesTabLineBreaksAndPrintableAscii) {
  std::wstring wide = L"\t\n\r";
  std::string expected = "\t\n\r";
  for (wchar_t c = 32; c <= 127; ++c) {
    wide.push_back(c);
    expected.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(ToNarrow(wide), expected);
}

TEST(TextConvertToNarrow, SpecialCharactersBecomeTheirBytes) {
  for (const auto& [wide, byte] : kSpecial)
    EXPECT_EQ(ToNarrow(std::wstring(1, wide)), Byte(byte)) << "U+" << std::hex << static_cast<int>(wide);
}

TEST(TextConvertToNarrow, EveryOtherCharacterBecomesAQuestionMark) {
  const wchar_t others[] = {0x0000, 0x0001, 0x0008, 0x000B, 0x001F, 0x0080, 0x00A0, 0x00E9, 0x00FF, 0x0416,
                            0x2014, 0x20AC, 0xFFFD,
#ifndef _WIN32
                            // Beyond U+FFFF a wide character on Windows is two (a surrogate pair).
                            0x1F600
#endif
  };
  for (wchar_t c : others)
    EXPECT_EQ(ToNarrow(std::wstring(1, c)), "?") << "U+" << std::hex << static_cast<int>(c);
}

TEST(TextConvertToNarrow, KeepsLengthAndPosition) {
  // An embedded U+0000 is a character like any other and must not end the text.
  const std::wstring wide{L'a', L'\0', L'\u00E9', L'\u2026', L'z'};
  EXPECT_EQ(ToNarrow(wide), std::string("a??\x85z", 5));
  EXPECT_EQ(ToNarrow(L""), "");
}

TEST(TextConvertToWide, AsciiBytesMapToTheSameCode) {
  std::string narrow;
  for (int b = 0; b < 0x80; ++b) narrow.push_back(static_cast<char>(b));
  const std::wstring wide = ToWide(narrow);
  ASSERT_EQ(wide.size(), narrow.size());
  for (int b = 0; b < 0x80; ++b) EXPECT_EQ(wide[b], static_cast<wchar_t>(b));
}

TEST(TextConvertToWide, SpecialBytesMapBackToTheirCharacters) {
  for (const auto& [wide, byte] : kSpecial) EXPECT_EQ(ToWide(Byte(byte)), std::wstring(1, wide)) << int(byte);
}

TEST(TextConvertRoundTrip, ExpressibleTextSurvivesBothWays) {
  std::wstring text = L"\t\n\r";
  for (wchar_t c = 32; c <= 127; ++c) text.push_back(c);
  for (const auto& special : kSpecial) text.push_back(special.first);
  EXPECT_EQ(ToWide(ToNarrow(text)), text);
}

TEST(TextConvertRoundTrip, InexpressibleCharactersComeBackAsQuestionMarks) {
  EXPECT_EQ(ToWide(ToNarrow(L"C:\\Spiele\\\u00C9t\u00E9 \u0416\\")), L"C:\\Spiele\\?t? ?\\");
}

TEST(TextConvertRoundTrip, EveryByteSurvivesWideAndBackWhenItsCharacterIsKept) {
  // For each byte, ToWide then ToNarrow gives the byte back exactly when the
  // character it became is one ToNarrow keeps; otherwise '?'.
  for (int b = 0; b < 256; ++b) {
    const std::string narrow = Byte(static_cast<unsigned char>(b));
    const std::string back = ToNarrow(ToWide(narrow));
    ASSERT_EQ(back.size(), 1u) << b;
    if (back != "?") {
      EXPECT_EQ(back, narrow) << b;
    }
  }
}

}  // namespace
