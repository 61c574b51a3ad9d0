// The compiled string table: every text of resources/strings.txt, generated
// at build time by tools/make_string_table. Entries are sorted by language,
// then id, and each (language, id) pair occurs once.
#pragma once

#include <cstdint>
#include <span>

namespace NolkPatch {

// Language identifiers of the table's texts.
enum : std::uint16_t {
  LANGUAGE_NEUTRAL = 0,  // chosen from the user's locale at lookup
  LANGUAGE_ENGLISH = 9,
  LANGUAGE_GERMAN = 1031,
  LANGUAGE_FRENCH = 1036,
  LANGUAGE_RUSSIAN = 1049,
};

struct StringTableEntry {
  std::uint16_t language;
  std::uint16_t id;
  const wchar_t* text;
};

std::span<const StringTableEntry> StringTableEntries();

}  // namespace NolkPatch
