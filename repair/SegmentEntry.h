// One entry of the installed-file summary: a segment of a file with its
// checksum and its file's modification time when the checksum was taken.
#pragma once

#include <cstdint>
#include <string>

namespace NolkPatch {

struct SegmentEntry {
  std::wstring name;               // the name key: relative path, '#', index
  std::uint32_t checksum = 0;      // SegmentChecksum; 0: the segment was unreadable
  std::uint64_t modifiedTime = 0;  // seconds since 1970-01-01 UTC
  bool seen = false;               // confirmed by the current scan; not stored
};

}  // namespace NolkPatch
