// Lower-case hexadecimal text of bytes and back, for digests, keys and
// signatures in text files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace NolkSign {

std::string ToHex(std::span<const std::uint8_t> bytes);
// Exactly 2 * out.size() digits of either case; false otherwise (out is
// then unspecified).
bool FromHex(std::string_view text, std::span<std::uint8_t> out);
// The text without the blanks, tabs, CRs and LFs at both ends.
std::string_view TrimmedText(std::string_view text);

}  // namespace NolkSign
