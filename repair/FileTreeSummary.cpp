#include "repair/FileTreeSummary.h"

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "repair/ExclusionPattern.h"
#include "repair/SegmentFile.h"
#include "repair/SegmentKey.h"

namespace NolkPatch {
namespace {

// Brings an entry up to date for a file modified at `modifiedTime`;
// `checksumOf` reads the segment when a checksum has to be computed. `next`
// is where the entry is looked for first (a scan meets the keys mostly in
// map order, so one comparison usually replaces a search of the tree); it is
// left just behind the entry.
template <typename ChecksumOf>
void RefreshEntry(FileTreeSummary::EntryMap& entries, FileTreeSummary::EntryMap::iterator& next,
                  const std::wstring& nameKey, std::uint64_t modifiedTime, std::uint32_t knownChecksum,
                  ChecksumOf checksumOf) {
  auto found = next != entries.end() && next->first == nameKey ? next : entries.find(nameKey);
  if (found == entries.end()) {
    const std::uint32_t checksum = knownChecksum != 0 ? knownChecksum : checksumOf();
    next = std::next(entries.emplace(nameKey, SegmentEntry{nameKey, checksum, modifiedTime, true}).first);
    return;
  }
  next = std::next(found);
  SegmentEntry& entry = found->second;
  if (entry.modifiedTime == modifiedTime && knownChecksum == 0) {
    entry.seen = true;
    return;
  }
  entry.checksum = knownChecksum != 0 ? knownChecksum : checksumOf();
  entry.name = nameKey;
  entry.modifiedTime = modifiedTime;
  entry.seen = true;
}

// The path as the 8-bit file functions see it (FileUtil.h).
std::wstring EightBitForm(const std::wstring& path) {
  return NolkUtil::ToWide(NolkUtil::ToNarrow(NolkUtil::NormalizeSeparators(path)));
}

// Length and modification time of a file in one status call.
bool QueryFile(const std::wstring& eightBitPath, std::uint64_t& length, std::uint64_t& modifiedTime) {
  OS::FileInfo info;
  if (!OS::Current().Stat(eightBitPath, info)) return false;
  length = info.size;
  modifiedTime = static_cast<std::uint64_t>(info.modifiedTime);
  return true;
}

}  // namespace

bool FileTreeSummary::RegisterSegment(const std::wstring& localKey, const std::wstring& nameKey,
                                      std::uint32_t knownChecksum) {
  Vek::CriticalSectionLock lock(m_mutex);
  std::int64_t fileTime = 0;
  if (NolkUtil::GetFileModifiedTime(NolkUtil::SplitSegmentKey(localKey).path, fileTime) != NOLKRESULT_OK) {
    return false;
  }
  const auto modifiedTime = static_cast<std::uint64_t>(fileTime);
  auto next = m_entries.end();
  RefreshEntry(m_entries, next, nameKey, modifiedTime, knownChecksum,
               [&] { return NolkUtil::SegmentChecksum(localKey); });
  if (knownChecksum != 0) RestampSegments(NolkUtil::SplitSegmentKey(nameKey).path, modifiedTime);
  return true;
}

bool FileTreeSummary::RegisterFile(const std::wstring& fullPath, const std::wstring& relativeName) {
  Vek::CriticalSectionLock lock(m_mutex);
  auto next = m_entries.end();
  return RegisterFileAt(EightBitForm(fullPath), fullPath, relativeName, next);
}

bool FileTreeSummary::RegisterFileAt(const std::wstring& queryPath, const std::wstring& fullPath,
                                     const std::wstring& relativeName, EntryMap::iterator& next) {
  std::uint64_t length = 0;
  std::uint64_t modifiedTime = 0;
  if (!QueryFile(queryPath, length, modifiedTime)) {
    LogPrintTo(LOG_STDOUT, "FileTreeSummary::RegisterFile> unable to get filesize for %s",
               NolkUtil::ToNarrow(fullPath).c_str());
    return false;
  }
  RegisterSegments(fullPath, relativeName, length, modifiedTime, next);
  return true;
}

void FileTreeSummary::RegisterSegments(const std::wstring& fullPath, const std::wstring& relativeName,
                                       std::uint64_t length, std::uint64_t modifiedTime,
                                       EntryMap::iterator& next) {
  const std::uint64_t count = NolkUtil::SegmentCount(length);
  for (std::uint64_t index = 0; index < count; ++index) {
    const auto segment = static_cast<std::int64_t>(index);
    RefreshEntry(m_entries, next, NolkUtil::MakeSegmentKey(relativeName, segment), modifiedTime, 0,
                 [&] { return NolkUtil::SegmentChecksum(NolkUtil::MakeSegmentKey(fullPath, segment)); });
  }
}

void FileTreeSummary::RestampSegments(const std::wstring& relativeName, std::uint64_t modifiedTime) {
  Vek::CriticalSectionLock lock(m_mutex);
  for (std::int64_t index = 0;; ++index) {
    const auto found = m_entries.find(NolkUtil::MakeSegmentKey(relativeName, index));
    if (found == m_entries.end()) return;
    found->second.modifiedTime = modifiedTime;
  }
}

void FileTreeSummary::RemoveSegment(const std::wstring& nameKey) {
  Vek::CriticalSectionLock lock(m_mutex);
  m_entries.erase(nameKey);
}

void FileTreeSummary::RemoveSegmentsAfter(const std::wstring& nameKey) {
  Vek::CriticalSectionLock lock(m_mutex);
  const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(nameKey);
  for (std::int64_t index = parts.index; index < NolkUtil::kMaxSegmentIndex;) {
    if (m_entries.erase(NolkUtil::MakeSegmentKey(parts.path, ++index)) == 0) return;
  }
}

bool FileTreeSummary::IsExcluded(const std::wstring& relativeName, const std::set<std::wstring>& patterns) {
  return NolkUtil::MatchesAnyExclusionPattern(relativeName, patterns);
}

std::size_t FileTreeSummary::Count() const {
  Vek::CriticalSectionLock lock(m_mutex);
  return m_entries.size();
}

bool FileTreeSummary::Find(const std::wstring& nameKey, SegmentEntry& entry) const {
  Vek::CriticalSectionLock lock(m_mutex);
  const auto found = m_entries.find(nameKey);
  if (found == m_entries.end()) return false;
  entry = found->second;
  return true;
}

FileTreeSummary::EntryMap FileTreeSummary::Entries() const {
  Vek::CriticalSectionLock lock(m_mutex);
  return m_entries;
}

void FileTreeSummary::Clear() {
  Vek::CriticalSectionLock lock(m_mutex);
  m_entries.clear();
}

}  // namespace NolkPatch
