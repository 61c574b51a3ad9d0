// Entry names of the patch archive: the name block's byte form, whether a
// name stands for a folder or a file, and whether it is safe to unpack.
//
// A name block's plain bytes are an unsigned 32-bit little-endian count n
// followed by exactly n UTF-16LE code units, without terminator. The
// program's wide strings hold UTF-32 on Linux and UTF-16 on Windows, so the
// conversion is explicit: characters above U+FFFF travel as surrogate pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace NolkPatch {

// The longest name the unpacker accepts, in UTF-16 code units (the longest
// path Windows can name), and the largest name block that can hold it.
inline constexpr std::uint32_t kMaxEntryNameUnits = 32767;
inline constexpr std::size_t kMaxNameBlockSize = 4 + 2 * std::size_t{kMaxEntryNameUnits};

// False when the text holds a character UTF-16 cannot carry (a surrogate
// code point on its own, or a value above U+10FFFF).
bool EncodeUtf16(const std::wstring& text, std::u16string& units);
// False on a surrogate without its partner; such a unit is decoded as '?'
// so the text can still be shown in a diagnostic.
bool DecodeUtf16(const std::u16string& units, std::wstring& text);

enum class NameBlockStatus {
  NAME_OK,
  NAME_NO_COUNT,        // fewer than 4 bytes: the count itself is missing
  NAME_TOO_LONG,        // the count is above kMaxEntryNameUnits
  NAME_COUNT_MISMATCH,  // the block holds more or fewer bytes than 4 + 2n
  NAME_BAD_UTF16,       // an unpaired surrogate
};

std::vector<std::uint8_t> EncodeNameBlock(const std::u16string& units);
// Decodes a name block. Whatever the status, `name` receives the characters
// that the block does hold (at most the counted ones), for diagnostics.
NameBlockStatus DecodeNameBlock(const std::uint8_t* bytes, std::size_t length, std::wstring& name);

// A folder entry: the last path component has no '.', or the name ends in a
// separator ('\' or '/'). Every other name is a file entry.
bool IsFolderEntryName(const std::wstring& name);

// Whether the name stays inside the destination folder: no NUL, no leading
// separator, no ':' (drive letters and alternate streams), and no component
// made only of dots and spaces other than "." itself ("..", "...", ". ",
// which Windows resolves to a parent folder or strips to nothing).
bool IsSafeEntryName(const std::wstring& name);

}  // namespace NolkPatch
