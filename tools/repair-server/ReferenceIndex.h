// The reference installation as the repair server serves it: the segment
// checksums of every file (the same keys and checksums the client's
// summary holds) and the set of empty files, which have no segments.
//
// Build() keeps the segment summary in an index file, in the client's cache
// format, and reuses a segment's checksum when its file's modification time
// is unchanged, so a restart on an unchanged reference reads no file
// contents. The index is replaced atomically (written beside it, then moved
// over it), so several servers started on the same reference never read a
// half-written one. After Build() the index is only read, by any number of
// sessions at once.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "repair/Utf16Name.h"

namespace KorvelRepairServer {

class ReferenceIndex {
 public:
  // Per file (relative name with '\' separators): the checksum of each
  // segment in index order. 0 marks a segment that could not be read.
  using FileMap = std::map<std::wstring, std::vector<std::uint32_t>, NolkUtil::Utf16Less>;

  struct BuildReport {
    bool ok = false;
    std::string error;         // why the reference cannot be served
    bool indexReused = false;  // an index file was found and loaded
    bool indexSaved = false;   // the refreshed index was written
    std::size_t unreadableSegments = 0;
  };

  // Scans the reference folder. Fails when the folder cannot be listed.
  // `indexFile` may lie inside the reference (it is then left out of the
  // scan) or anywhere else; a index that cannot be written only costs the
  // next start a full read.
  BuildReport Build(const std::wstring& rootFolder, const std::wstring& indexFile);

  const std::wstring& Root() const { return m_root; }
  const FileMap& Files() const { return m_files; }
  bool IsEmptyFile(const std::wstring& relativePath) const { return m_emptyFiles.count(relativePath) != 0; }
  std::size_t SegmentCount() const { return m_segmentCount; }

 private:
  void CollectEmptyFiles();

  std::wstring m_root;
  FileMap m_files;
  std::set<std::wstring, NolkUtil::Utf16Less> m_emptyFiles;
  std::size_t m_segmentCount = 0;
};

}  // namespace KorvelRepairServer
