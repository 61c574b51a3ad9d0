#include "tools/repair-server/RepairPlan.h"

#include <algorithm>
#include <map>

#include "repair/SafeRelativeName.h"
#include "repair/SegmentKey.h"
#include "tools/repair-server/ServedNames.h"

namespace KorvelRepairServer {
namespace {

// The client's segments per file: index -> checksum.
using ClientFiles = std::map<std::wstring, std::map<std::int64_t, std::uint32_t>, NolkUtil::Utf16Less>;

ClientFiles GroupByFile(const std::vector<ClientEntry>& client, std::size_t& ignored) {
  ClientFiles files;
  for (const ClientEntry& entry : client) {
    const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(entry.name);
    if (!NolkUtil::IsSafeSegmentKey(entry.name) || IsNeverServed(parts.path)) {
      ++ignored;
      continue;
    }
    files[parts.path][parts.index] = entry.checksum;
  }
  return files;
}

void PlanReferenceFile(const std::wstring& path, const std::vector<std::uint32_t>& checksums,
                       const std::map<std::int64_t, std::uint32_t>* held,
                       std::vector<PlannedRecord>& records) {
  const auto segments = static_cast<std::int64_t>(checksums.size());
  for (std::int64_t index = 0; index < segments; ++index) {
    const std::uint32_t checksum = checksums[static_cast<std::size_t>(index)];
    if (checksum == 0) continue;  // unreadable here: nothing sound to send
    if (held != nullptr) {
      const auto found = held->find(index);
      if (found != held->end() && found->second == checksum) continue;
    }
    records.push_back({PlannedRecord::Kind::Segment, path, index, checksum});
  }
  if (held != nullptr && !held->empty() && held->rbegin()->first >= segments)
    records.push_back({PlannedRecord::Kind::Remove, path, segments, 0});
}

}  // namespace

std::wstring PlannedRecord::Key() const {
  return NolkUtil::MakeSegmentKey(path, index);
}

RepairPlan PlanRepair(const ReferenceIndex& reference, const std::vector<ClientEntry>& client) {
  RepairPlan plan;
  const ClientFiles held = GroupByFile(client, plan.ignoredClientNames);
  for (const auto& [path, checksums] : reference.Files()) {
    if (IsNeverServed(path)) continue;
    const auto found = held.find(path);
    PlanReferenceFile(path, checksums, found == held.end() ? nullptr : &found->second, plan.records);
  }
  for (const auto& [path, segments] : held) {
    if (reference.Files().count(path) != 0) continue;
    const auto kind = reference.IsEmptyFile(path) ? PlannedRecord::Kind::Empty : PlannedRecord::Kind::Remove;
    plan.records.push_back({kind, path, 0, 0});
  }
  NolkUtil::Utf16Less less;
  std::sort(plan.records.begin(), plan.records.end(),
            [&less](const PlannedRecord& a, const PlannedRecord& b) { return less(a.Key(), b.Key()); });
  return plan;
}

}  // namespace KorvelRepairServer
