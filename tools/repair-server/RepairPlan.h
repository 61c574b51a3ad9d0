// Which segment records a client gets: the reference's segments that the
// client lacks or holds with another checksum, and one removal record
// (checksum 0) per client file that has segments the reference lacks: at
// index 000 for a file the reference does not have, else at the first
// index past the reference's last segment (the client cuts the file there).
//
// A client file that the reference holds as an empty file (which has no
// segments) gets a record for segment 000 with no data instead, which the
// client writes as "the file ends at 0" and so keeps the empty file rather
// than deleting it.
//
// Never planned: the never-served names (ServedNames.h), reference segments
// that could not be read, and client names that are not safe segment keys
// (they could only come from a damaged or hostile client and are not echoed
// back as removals).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/repair-server/ClientSummaryParser.h"
#include "tools/repair-server/ReferenceIndex.h"

namespace KorvelRepairServer {

struct PlannedRecord {
  enum class Kind {
    Segment,  // the reference's bytes of the segment
    Remove,   // checksum 0: the reference has no such segment
    Empty     // segment 000 of an empty reference file: no data
  };
  Kind kind = Kind::Segment;
  std::wstring path;  // relative file name with '\' separators
  std::int64_t index = 0;
  std::uint32_t checksum = 0;  // the reference's, for Kind::Segment

  std::wstring Key() const;
};

struct RepairPlan {
  std::vector<PlannedRecord> records;  // in name key order
  std::size_t ignoredClientNames = 0;  // unsafe or never-served names
};

RepairPlan PlanRepair(const ReferenceIndex& reference, const std::vector<ClientEntry>& client);

}  // namespace KorvelRepairServer
