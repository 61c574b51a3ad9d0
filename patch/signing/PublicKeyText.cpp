// Hexadecimal text and the publisher key set compiled into the program.
#include <algorithm>

#include "patch/signing/Hex.h"
#include "patch/signing/PublisherKeys.h"

namespace NolkSign {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

PublisherKeySet ParseBuiltInKeys() {
  PublisherKeySet set;
  if (ParsePublisherKeyList(BuiltInPublisherKeyText(), set)) return set;
  set.keys.assign(1, PublicKey{});
  return set;
}

}  // namespace

std::string ToHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

bool FromHex(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() != out.size() * 2) return false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = DigitValue(text[2 * i]);
    const int low = DigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

std::string_view TrimmedText(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return std::string_view();
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

bool PublisherKeySet::Contains(const PublicKey& key) const {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool ParsePublicKeyText(std::string_view text, PublicKey& key) {
  return FromHex(TrimmedText(text), key);
}

bool ParsePublisherKeyList(std::string_view text, PublisherKeySet& set) {
  set.keys.clear();
  if (TrimmedText(text).empty()) return true;
  while (true) {
    const std::size_t comma = text.find(',');
    PublicKey key{};
    if (!ParsePublicKeyText(text.substr(0, comma), key)) return false;
    set.keys.push_back(key);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return set.keys.size() <= 2;
}

const PublisherKeySet& BuiltInPublisherKeys() {
  static const PublisherKeySet keys = ParseBuiltInKeys();
  return keys;
}

}  // namespace NolkSign
