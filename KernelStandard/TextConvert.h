// Conversion between the program's wide strings and the 8-bit texts of the
// stored formats and system calls: one byte per character, with the nine
// typographic characters of the Windows-1252 code page kept and every other
// character outside tab, line feed, carriage return and 32..127 turned into
// '?'.
#pragma once

#include <string>

namespace NolkUtil {

std::string ToNarrow(const std::wstring& text);
// Bytes 0x00..0x7F map to the same code, the nine special bytes back to
// their characters; any other byte from 0x80 up becomes its Windows-1252
// character where one exists, else the Latin-1 code point.
std::wstring ToWide(const std::string& text);

}  // namespace NolkUtil
