// FileTreeSummary::Scan: the breadth-first walk over the installation.
//
// Each folder is listed once through the platform layer, whose listing
// already tells folders from files, and each file costs one status call
// (length and modification time together); a file whose time matches its
// cached entries is not read at all. Paths pass through the 8-bit form, as
// with every file function of the program (FileUtil.h).
#include <algorithm>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "repair/FileTreeSummary.h"

namespace NolkPatch {
namespace {

std::wstring EightBitForm(const std::wstring& path) {
  return NolkUtil::ToWide(NolkUtil::ToNarrow(NolkUtil::NormalizeSeparators(path)));
}

// An entry name in the 8-bit form, as NolkUtil::ToNarrow leaves it. Names of
// plain printable ASCII, nearly all of them, pass unchanged.
std::wstring EightBitName(const std::wstring& name) {
  const bool printableAscii =
      std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= 32 && c <= 127; });
  return printableAscii ? name : NolkUtil::ToWide(NolkUtil::ToNarrow(name));
}

std::wstring RelativeChild(const std::wstring& folderRelative, const std::wstring& name) {
  return folderRelative.empty() ? name : folderRelative + L"\\" + name;
}

bool NameLess(const OS::DirEntry& a, const OS::DirEntry& b) {
  return a.name < b.name;
}

}  // namespace

NolkResult FileTreeSummary::Scan(const std::wstring& rootFolder, const std::set<std::wstring>& exclusions) {
  Vek::CriticalSectionLock lock(m_mutex);
  for (auto& [key, entry] : m_entries) entry.seen = false;

  std::deque<ScanFolder> pending;
  pending.push_back({rootFolder, std::wstring()});
  bool rootListed = true;
  auto next = m_entries.end();
  for (bool first = true; !pending.empty(); first = false) {
    const ScanFolder folder = std::move(pending.front());
    pending.pop_front();
    if (!ScanOneFolder(folder, exclusions, pending, next) && first) rootListed = false;
  }

  std::erase_if(m_entries, [](const auto& item) { return !item.second.seen; });
  return rootListed ? NOLKRESULT_OK : NOLKRESULT_CANNOT_LIST;
}

bool FileTreeSummary::ScanOneFolder(const ScanFolder& folder, const std::set<std::wstring>& exclusions,
                                    std::deque<ScanFolder>& pending, EntryMap::iterator& next) {
  const std::wstring listedPath = EightBitForm(folder.path);
  std::vector<OS::DirEntry> listing;
  if (!OS::Current().ListDirectory(listedPath, listing)) return false;
  std::sort(listing.begin(), listing.end(), NameLess);

  for (const OS::DirEntry& item : listing) {
    std::wstring fullPath = NolkUtil::JoinPath(listedPath, EightBitName(item.name));
    std::wstring relative = RelativeChild(folder.relative, item.name);
    // A symbolic link is not part of a game installation; one planted there
    // could lead the scan (and the writes after it) outside the folder or
    // round in a loop. It is left out, so the server's copy replaces it.
    if (item.isSymbolicLink) continue;
    if (item.isDirectory) {
      pending.push_back({std::move(fullPath), std::move(relative)});
    } else if (!IsExcluded(relative, exclusions)) {
      RegisterFileAt(fullPath, fullPath, relative, next);
    }
  }
  return true;
}

}  // namespace NolkPatch
