// Segment keys: every installed file is cut into 4 MiB segments, and each
// segment is named by "<path>#<index>" with the index written as a decimal
// number of at least three digits (#000, #001, ... #999, #1000, ...).
//
// Two kinds of key use the same form: the name key (the file's path
// relative to the installation folder, with '\' separators; the key of the
// summary and the name on the wire) and the local key (the file's full path,
// used only to read the segment from disk).
//
// Splitting a key: the index is the number after the last '#' of the key,
// provided that '#' lies in the last path component; the path is everything
// before that '#'. Splitting at the last '#' keeps file names that contain a
// '#' of their own ("notes#1.txt#000" is segment 0 of "notes#1.txt"). A key
// whose last component has no '#' names its whole text as the path, with
// index 0.
#pragma once

#include <cstdint>
#include <string>

namespace NolkUtil {

// 4,194,304 bytes (2^22).
inline constexpr std::uint64_t kSegmentSize = std::uint64_t{1} << 22;
// The largest index whose byte offset still fits a signed 64-bit position.
inline constexpr std::int64_t kMaxSegmentIndex = (INT64_MAX >> 22) - 1;

// The number of segments of a file of the given length: ceil(length / 4 MiB).
std::uint64_t SegmentCount(std::uint64_t fileLength);

// "<path>#<index>", the index with at least three digits.
std::wstring MakeSegmentKey(const std::wstring& path, std::int64_t index);

struct SegmentKeyParts {
  std::wstring path;
  std::int64_t index = 0;
  // The key ends in '#' and one or more decimal digits (no sign, nothing
  // after them) and the index is at most kMaxSegmentIndex. Keys that are
  // not well formed still split as described above, for diagnostics and
  // for lookups, but must never be used to reach a file offset.
  bool wellFormed = false;
};

// Splits a key into its path and index. The index text may carry a sign and
// ends at the first character that is not a digit; an index that does not
// fit 64 bits counts as not well formed (index 0).
SegmentKeyParts SplitSegmentKey(const std::wstring& key);

// The byte offset of a segment index; false for a negative index or one past
// kMaxSegmentIndex.
bool SegmentOffset(std::int64_t index, std::uint64_t& offset);

}  // namespace NolkUtil
