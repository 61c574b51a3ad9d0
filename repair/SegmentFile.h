// Reading one 4 MiB segment of an installed file, and its checksum. Both take
// a local key: the file's full path, '#', and the segment index (SegmentKey.h).
// Diagnostics go to the standard output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace NolkUtil {

// Reads segment i of the file: the bytes from i * 4 MiB up to
// min((i + 1) * 4 MiB, file length). A segment that starts exactly at the end
// of the file reads as empty; one that starts beyond it fails, as do a
// negative index and a file that cannot be opened, positioned or read. On
// success `block` owns the bytes and `length` is their number.
bool ReadFileSegment(const std::wstring& localKey, std::unique_ptr<std::uint8_t[]>& block,
                     std::uint32_t& length);

// The SegmentCrc of the segment's bytes, or 0 when the segment cannot be
// read (with ReadFileSegment's messages). A checksum that comes out as 0
// (all-zero bytes, for instance) is returned as 1, so that 0 always means
// "unreadable". The bytes are read and checked in pieces rather than as one
// 4 MiB block, which keeps them in the processor's cache.
std::uint32_t SegmentChecksum(const std::wstring& localKey);

}  // namespace NolkUtil
