// libFuzzer target: the repair server's reader of a client's summary, which
// takes the stream piece by piece as it arrives. The input is fed once
// whole and once in pieces whose sizes come from the input itself; both
// must end in the same state with the same entries, a complete summary must
// agree with the summary's own reader, and whatever the reader accepts must
// plan a repair against an empty reference without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "repair/FileTreeSummary.h"
#include "stream/NolkDataBufferMemory.h"
#include "tools/repair-server/ClientSummaryParser.h"
#include "tools/repair-server/RepairPlan.h"

namespace {

using KorvelRepairServer::ClientSummaryParser;

ClientSummaryParser FeedInPieces(const std::uint8_t* data, std::size_t size) {
  ClientSummaryParser parser;
  std::size_t at = 0;
  std::size_t step = 1;
  while (at < size && parser.GetStatus() == ClientSummaryParser::Status::NeedMore) {
    const std::size_t piece = std::min(size - at, step);
    parser.Feed(data + at, piece);
    at += piece;
    step = (data[at - 1] % 13) + 1;
  }
  return parser;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ClientSummaryParser whole;
  whole.Feed(data, size);
  const ClientSummaryParser pieces = FeedInPieces(data, size);
  if (whole.GetStatus() != pieces.GetStatus()) abort();
  if (whole.Entries().size() != pieces.Entries().size()) abort();
  for (std::size_t i = 0; i < whole.Entries().size(); ++i)
    if (whole.Entries()[i].name != pieces.Entries()[i].name ||
        whole.Entries()[i].checksum != pieces.Entries()[i].checksum)
      abort();
  if (whole.GetStatus() != ClientSummaryParser::Status::Complete) return 0;

  NolkDataBufferMemoryStatic source(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size));
  NolkPatch::FileTreeSummary summary;
  if (summary.Load(source) != NOLKRESULT_OK) abort();
  if (summary.Count() > whole.Entries().size()) abort();

  const KorvelRepairServer::ReferenceIndex emptyReference;
  const auto plan = KorvelRepairServer::PlanRepair(emptyReference, whole.Entries());
  for (const auto& record : plan.records)
    if (record.kind != KorvelRepairServer::PlannedRecord::Kind::Remove || record.index != 0) abort();
  return 0;
}
