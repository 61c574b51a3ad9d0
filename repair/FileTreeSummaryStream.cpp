// FileTreeSummary::Save and Load: the summary stream of "repair.cks" and of
// the summary sent to the repair server (SummaryStreamFormat.h).
//
// The reader trusts nothing in the stream: every count is checked before
// anything is allocated for it, the entry count only bounds the loop (no
// space is reserved for it), and the first failed read ends the loop, so a
// damaged file or a hostile peer can neither exhaust memory nor keep the
// reader spinning.
#include <climits>
#include <vector>

#include "KernelStandard/FileUtil.h"
#include "repair/FileTreeSummary.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferFile.h"

namespace NolkPatch {
namespace {

// checksum (4) and modification time (8) after each name.
constexpr std::size_t kEntryTail = 12;

NolkResult ReadLe32(NolkDataBuffer& source, std::uint32_t& value) {
  unsigned char bytes[4];
  const NolkResult result = source.ReadData(bytes, sizeof bytes);
  if (result == NOLKRESULT_OK) value = NolkUtil::LoadLe32(bytes);
  return result;
}

// Reads the name and the two fields after it in one read, which saves
// round trips on a TCP buffer.
NolkResult ReadEntry(NolkDataBuffer& source, std::vector<unsigned char>& scratch, SegmentEntry& entry) {
  std::uint32_t units = 0;
  NolkResult result = ReadLe32(source, units);
  if (result != NOLKRESULT_OK) return result;
  if (units > NolkUtil::kMaxNameUnits) return NOLKRESULT_WRONG_FORMAT;
  const std::size_t nameBytes = std::size_t{units} * 2;
  scratch.resize(nameBytes + kEntryTail);
  result = source.ReadData(scratch.data(), static_cast<std::uint32_t>(scratch.size()));
  if (result != NOLKRESULT_OK) return result;
  entry.name = NolkUtil::DecodeUtf16Le(scratch.data(), units);
  entry.checksum = NolkUtil::LoadLe32(scratch.data() + nameBytes);
  entry.modifiedTime = NolkUtil::LoadLe64(scratch.data() + nameBytes + 4);
  entry.seen = false;
  return NOLKRESULT_OK;
}

}  // namespace

NolkResult FileTreeSummary::Save(NolkDataBuffer& destination) const {
  Vek::CriticalSectionLock lock(m_mutex);
  if (m_entries.size() > UINT32_MAX) return NOLKRESULT_NO_ROOM;
  NolkUtil::BlockWriter writer(destination);
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, writer.Bytes());
  NolkUtil::AppendLe32(static_cast<std::uint32_t>(m_entries.size()), writer.Bytes());
  for (const auto& [key, entry] : m_entries) {
    NolkUtil::AppendCountedName(key, writer.Bytes());
    NolkUtil::AppendLe32(entry.checksum, writer.Bytes());
    NolkUtil::AppendLe64(entry.modifiedTime, writer.Bytes());
    writer.WriteIfFull();
  }
  return writer.Finish();
}

NolkResult FileTreeSummary::Load(NolkDataBuffer& source) {
  Vek::CriticalSectionLock lock(m_mutex);
  m_entries.clear();
  std::uint32_t magic = 0;
  NolkResult result = ReadLe32(source, magic);
  if (result != NOLKRESULT_OK) return result;
  if (magic != NolkUtil::kSummaryMagic) return NOLKRESULT_WRONG_FORMAT;
  std::uint32_t count = 0;
  result = ReadLe32(source, count);
  if (result != NOLKRESULT_OK) return result;

  std::vector<unsigned char> scratch;
  SegmentEntry entry;
  for (std::uint32_t i = 0; i < count; ++i) {
    result = ReadEntry(source, scratch, entry);
    if (result != NOLKRESULT_OK) return result;
    // Streams come in key order, so the end is almost always the right place.
    m_entries.insert_or_assign(m_entries.end(), entry.name, entry);
  }
  return NOLKRESULT_OK;
}

NolkResult FileTreeSummary::SaveToFile(const std::wstring& path) const {
  NolkResult result = NOLKRESULT_OK;
  std::uint64_t written = 0;
  {
    NolkDataBufferFile file(path, NolkDataBufferFile::WriteNew);
    if (!file.IsOpen()) return NOLKRESULT_NOT_OPEN;
    result = Save(file);
    written = file.GetSize();
  }
  if (result != NOLKRESULT_OK) return result;
  // The last block may sit in the stream's buffer until the file is closed,
  // where a failure is not reported: the length on disk tells whether it
  // arrived. The cache is not forced to the disk; a cache lost in a crash
  // only costs a full scan.
  std::uint64_t length = 0;
  if (NolkUtil::GetFileSize(path, length) != NOLKRESULT_OK || length != written) return NOLKRESULT_FILE_ERROR;
  return NOLKRESULT_OK;
}

NolkResult FileTreeSummary::LoadFromFile(const std::wstring& path) {
  NolkDataBufferFile file(path, NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen()) return NOLKRESULT_NOT_OPEN;
  return Load(file);
}

}  // namespace NolkPatch
