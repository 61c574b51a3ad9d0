// Names in the summary stream are UTF-16 (little-endian on the wire), while
// the program keeps them as wide strings. These helpers convert between the
// two and order wide strings by their UTF-16 code units, which is the order
// of the summary and of the stream.
//
// Conversion keeps every name: a surrogate pair becomes one character, and a
// surrogate without its partner is kept as that single code unit, so a name
// read from a stream is written back unchanged. Characters beyond U+10FFFF
// (which no valid text has) are written as U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace NolkUtil {

// Appends the name as UTF-16LE bytes.
void AppendUtf16Le(const std::wstring& name, std::string& bytes);
// The number of UTF-16 code units AppendUtf16Le writes for the name.
std::size_t Utf16Length(const std::wstring& name);
// Decodes `units` UTF-16LE code units.
std::wstring DecodeUtf16Le(const unsigned char* bytes, std::size_t units);

// Orders by UTF-16 code units (as the server and the original program do),
// which differs from code-point order for characters above U+FFFF.
struct Utf16Less {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

}  // namespace NolkUtil
