#include "tools/repair-server/ReferenceIndex.h"

#include <deque>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "repair/FileTreeSummary.h"
#include "repair/SegmentKey.h"
#include "tools/repair-server/ServedNames.h"

namespace KorvelRepairServer {
namespace {

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'/' || path.back() == L'\\')) path.pop_back();
  return path;
}

// The index file's name relative to the reference, or empty when it lies
// outside it.
std::wstring IndexNameInside(const std::wstring& root, const std::wstring& indexFile) {
  const std::wstring base = NolkUtil::NormalizeSeparators(root) + L"\\";
  const std::wstring index = NolkUtil::NormalizeSeparators(indexFile);
  if (index.compare(0, base.size(), base) != 0) return {};
  return index.substr(base.size());
}

// Writes the index beside its final name and moves it over the old one in
// one step.
bool SaveIndex(const NolkPatch::FileTreeSummary& summary, const std::wstring& indexFile) {
  const std::wstring staged = indexFile + L".part" + std::to_wstring(OS::Current().ProcessId());
  if (summary.SaveToFile(staged) == NOLKRESULT_OK && OS::Current().ReplaceFile(staged, indexFile))
    return true;
  NolkUtil::DeleteFile(staged);
  return false;
}

}  // namespace

ReferenceIndex::BuildReport ReferenceIndex::Build(const std::wstring& rootFolder,
                                                  const std::wstring& indexFile) {
  BuildReport report;
  m_root = WithoutTrailingSeparators(rootFolder);
  m_files.clear();
  m_emptyFiles.clear();
  m_segmentCount = 0;
  if (m_root.empty() || !NolkUtil::IsDirectory(m_root)) {
    report.error = "not a folder";
    return report;
  }

  NolkPatch::FileTreeSummary summary;
  report.indexReused = summary.LoadFromFile(indexFile) == NOLKRESULT_OK && summary.Count() > 0;
  std::set<std::wstring> exclusions = NeverServedNames();
  const std::wstring indexName = IndexNameInside(m_root, indexFile);
  if (!indexName.empty()) exclusions.insert(indexName);
  if (summary.Scan(m_root, exclusions) != NOLKRESULT_OK) {
    report.error = "the folder cannot be listed";
    return report;
  }
  report.indexSaved = SaveIndex(summary, indexFile);

  for (const auto& [key, entry] : summary.Entries()) {
    const NolkUtil::SegmentKeyParts parts = NolkUtil::SplitSegmentKey(key);
    if (!parts.wellFormed) continue;
    auto& checksums = m_files[parts.path];
    const auto index = static_cast<std::size_t>(parts.index);
    // Keys sort as text ("#1000" before "#101"), so place each by its index;
    // a gap stays 0, like an unreadable segment, and is never served.
    if (checksums.size() <= index) checksums.resize(index + 1, 0);
    checksums[index] = entry.checksum;
  }
  for (const auto& [path, checksums] : m_files) {
    m_segmentCount += checksums.size();
    for (const std::uint32_t checksum : checksums) report.unreadableSegments += checksum == 0 ? 1 : 0;
  }
  CollectEmptyFiles();
  m_emptyFiles.erase(indexName);
  report.ok = true;
  return report;
}

// Empty files have no segments, so the summary does not know them; a client
// whose copy of one has content must be told to empty it, not to delete it.
void ReferenceIndex::CollectEmptyFiles() {
  std::deque<std::wstring> folders{m_root};
  while (!folders.empty()) {
    std::set<std::wstring> entries;
    if (NolkUtil::ListDirectory(folders.front(), entries) != NOLKRESULT_OK) entries.clear();
    folders.pop_front();
    for (const std::wstring& entry : entries) {
      if (NolkUtil::IsDirectory(entry)) {
        folders.push_back(entry);
        continue;
      }
      std::uint64_t length = 0;
      const std::wstring relative = NolkUtil::RelativePath(m_root, entry);
      if (NolkUtil::GetFileSize(entry, length) == NOLKRESULT_OK && length == 0 && !IsNeverServed(relative))
        m_emptyFiles.insert(relative);
    }
  }
}

}  // namespace KorvelRepairServer
