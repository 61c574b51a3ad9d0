// FileTreeSummary: one entry per 4 MiB segment of every file under an
// installation folder, keyed by the segment's name key (relative path with
// '\' separators, '#', index; see SegmentKey.h) and ordered by UTF-16 code
// units. It doubles as a cache: stored as "repair.cks" in the installation
// folder between runs, and a segment's checksum is recomputed only when its
// file's modification time has changed. The same serialised form is the
// summary the repair client sends to the repair server.
//
// The summary is shared between the repair client's own thread (scan,
// periodic save) and its file-writing threads (register, remove): every
// public operation holds the summary's re-entrant lock for its whole
// duration, and nested use from the same thread is allowed.
//
// Diagnostics go to the standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>

#include "KernelStandard/CriticalSection.h"
#include "KernelStandard/ResultCodes.h"
#include "repair/SegmentEntry.h"
#include "repair/Utf16Name.h"
#include "stream/NolkDataBuffer.h"

namespace NolkPatch {

// The cache file's name in the installation folder.
inline constexpr wchar_t kSummaryFileName[] = L"repair.cks";

class FileTreeSummary {
 public:
  using EntryMap = std::map<std::wstring, SegmentEntry, NolkUtil::Utf16Less>;

  FileTreeSummary() = default;
  FileTreeSummary(const FileTreeSummary&) = delete;
  FileTreeSummary& operator=(const FileTreeSummary&) = delete;

  // Records one segment and marks it seen. The file's modification time is
  // taken first; when that fails the summary is left alone and the result is
  // false. A known checksum (non-zero: the caller has just written the
  // segment) is stored as given and the file's other segments are restamped
  // with the new time, since their bytes did not change. Without one, the
  // cached checksum is kept when the stored time equals the file's, and is
  // otherwise computed with SegmentChecksum.
  bool RegisterSegment(const std::wstring& localKey, const std::wstring& nameKey,
                       std::uint32_t knownChecksum);
  // Registers every segment of a file (none for an empty one). False, with a
  // message, when the file's length cannot be taken. Lengths are 64-bit, so
  // files of 2 GiB and more are summarised whole.
  bool RegisterFile(const std::wstring& fullPath, const std::wstring& relativeName);
  // Sets the time of the entries relativeName#000, #001, ... up to the first
  // index without an entry.
  void RestampSegments(const std::wstring& relativeName, std::uint64_t modifiedTime);
  void RemoveSegment(const std::wstring& nameKey);
  // Erases the entries of the same file with the indices after the key's,
  // up to the first index without an entry.
  void RemoveSegmentsAfter(const std::wstring& nameKey);

  // Refreshes the summary from the folder tree: a breadth-first walk
  // registers every file whose relative name is not excluded (folders are
  // never matched against the patterns), and entries not confirmed by the
  // walk are erased afterwards. Problems with single files never stop the
  // walk. 0, or NOLKRESULT_CANNOT_LIST (4) when the root folder itself
  // cannot be listed (the summary is then empty).
  NolkResult Scan(const std::wstring& rootFolder, const std::set<std::wstring>& exclusions);
  // Whether a relative name matches any pattern (ExclusionPattern.h).
  static bool IsExcluded(const std::wstring& relativeName, const std::set<std::wstring>& patterns);

  // Writes the summary stream (SummaryStreamFormat.h). Every write is
  // attempted; the first failing write's code is returned.
  NolkResult Save(NolkDataBuffer& destination) const;
  // Replaces the summary with the entries of a summary stream. Another magic
  // gives NOLKRESULT_WRONG_FORMAT (10) with an empty summary; a short or
  // damaged stream gives the failing read's code (or 10 for a name count
  // above kMaxNameUnits) and keeps the complete entries read before it.
  // Loaded entries are not yet seen.
  NolkResult Load(NolkDataBuffer& source);
  // Save into a file (created or truncated), and Load from one.
  // NOLKRESULT_NOT_OPEN (7) when the file cannot be opened; LoadFromFile
  // then leaves the summary unchanged.
  NolkResult SaveToFile(const std::wstring& path) const;
  NolkResult LoadFromFile(const std::wstring& path);

  std::size_t Count() const;
  bool Find(const std::wstring& nameKey, SegmentEntry& entry) const;
  // A copy of all entries, in key order.
  EntryMap Entries() const;
  void Clear();

 private:
  // RegisterFile, the lock already held, with the path to query already in
  // the 8-bit form of the file functions; `next` is the entry to try first
  // (see RefreshEntry).
  bool RegisterFileAt(const std::wstring& queryPath, const std::wstring& fullPath,
                      const std::wstring& relativeName, EntryMap::iterator& next);
  void RegisterSegments(const std::wstring& fullPath, const std::wstring& relativeName, std::uint64_t length,
                        std::uint64_t modifiedTime, EntryMap::iterator& next);
  // A folder of the walk: its path and its name relative to the root.
  struct ScanFolder {
    std::wstring path;
    std::wstring relative;
  };
  // Lists one folder; registers its files and appends its subfolders.
  bool ScanOneFolder(const ScanFolder& folder, const std::set<std::wstring>& exclusions,
                     std::deque<ScanFolder>& pending, EntryMap::iterator& next);

  // Re-entrant: RegisterFile -> RegisterSegment -> RestampSegments take it
  // again on the same thread.
  mutable Vek::CriticalSection m_mutex;
  EntryMap m_entries;
};

}  // namespace NolkPatch
