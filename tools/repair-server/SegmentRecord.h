// One segment record of the repair protocol, as the server sends it:
//   compressed flag  1   non-zero: the data is a compressed block stream
//   name             4 + 2n   counted UTF-16LE name key
//   checksum         4   the segment's checksum; 0: no such segment here
//   data length      4
//   data
// The reference's bytes are read when the record is built and its checksum
// is taken over exactly those bytes, so a record is always consistent with
// itself even if the reference file was changed after the server started.
// Data is sent compressed when the block stream is smaller than the bytes;
// a segment whose samples do not compress at all is sent raw untried.
#pragma once

#include <string>

#include "tools/repair-server/RepairPlan.h"

namespace KorvelRepairServer {

struct BuiltRecord {
  std::string bytes;  // the whole record, header and data
  bool compressed = false;
};

// Builds the record of a planned entry. False when the reference segment
// cannot be read (with ReadFileSegment's message on the standard output).
bool BuildSegmentRecord(const ReferenceIndex& reference, const PlannedRecord& planned, BuiltRecord& record);

// The record header alone, for records without data and for tests.
void AppendRecordHeader(bool compressed, const std::wstring& nameKey, std::uint32_t checksum,
                        std::uint32_t dataLength, std::string& bytes);

}  // namespace KorvelRepairServer
