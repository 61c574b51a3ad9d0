// The publisher keys the patcher trusts. They are fixed when the program is
// built (CMake setting KORVEL_PUBLISHER_KEYS, see CMakeLists.txt) and never
// read from a file, the environment or the command line: whoever could
// change them could sign for the publisher.
//
// An empty set means the program was built without keys: it checks no
// signature and behaves as a patcher that knows nothing of signing.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace NolkSign {

inline constexpr std::size_t kPublicKeySize = 32;
using PublicKey = std::array<std::uint8_t, kPublicKeySize>;

struct PublisherKeySet {
  std::vector<PublicKey> keys;

  bool Empty() const { return keys.empty(); }
  bool Contains(const PublicKey& key) const;
};

// The keys compiled in: "" or one or two keys of 64 hexadecimal digits
// separated by ','. Defined alone in PublisherKeys.cpp.
const char* BuiltInPublisherKeyText();

// BuiltInPublisherKeyText() parsed once. A key text that does not parse
// (only possible when PublisherKeys.cpp is compiled by hand) gives a set
// holding an all-zero key, which no signature verifies against: such a
// patcher refuses everything rather than trusting unsigned data.
const PublisherKeySet& BuiltInPublisherKeys();

// One key as 64 hexadecimal digits (either case), blanks and line ends
// around it ignored.
bool ParsePublicKeyText(std::string_view text, PublicKey& key);
// Keys separated by ','; false when any of them does not parse or more
// than two are given.
bool ParsePublisherKeyList(std::string_view text, PublisherKeySet& set);

}  // namespace NolkSign
