#include "tools/publisher/ArchivePlan.h"

#include <map>
#include <set>

#include "KernelStandard/platform/Platform.h"
#include "patch/ArchiveEntryName.h"
#include "patch/FileModes.h"
#include "tools/publisher/FileLists.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

// The longest file or folder name the patcher can handle: its ".diff" (in
// the unpacked archive) and ".pbk" (the backup) companions must stay within
// the 255 bytes that file systems allow for a name.
constexpr std::size_t kLongestPatchableName = 250;

bool HasRoomForCompanions(const std::wstring& path) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(L'\\', start);
    const std::wstring component =
        path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (OS::ToUtf8(component).size() > kLongestPatchableName) return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

std::wstring PayloadName(const std::wstring& relativePath) {
  return JoinRelative(kPayloadFolderName, relativePath);
}

std::wstring TopLevelName(const char* listName) {
  return L".\\" + std::wstring(listName, listName + std::char_traits<char>::length(listName));
}

class PlanMaker {
 public:
  PlanMaker(const std::wstring& converterExtension, ArchivePlan& plan)
      : m_converterExtension(converterExtension), m_plan(plan) {}

  PublisherResult CheckListable(const std::vector<FileChange>& entries) {
    for (const FileChange& entry : entries) {
      if (!IsListableName(entry.path))
        return PublisherResult::Refuse("the name cannot be written in the 8-bit file lists: " +
                                       Printable(entry.path));
      if (!HasRoomForCompanions(entry.path))
        return PublisherResult::Refuse(
            "a name in this path is longer than " + std::to_string(kLongestPatchableName) +
            " bytes, so the patcher could not make its .diff and .pbk files: " + Printable(entry.path));
    }
    return PublisherResult::Success();
  }

  PublisherResult AddNewFile(const FileChange& entry) {
    if (NolkPatch::IsFolderEntryName(LastComponent(entry.path)))
      return PublisherResult::Refuse("an added file without '.' in its name would unpack as a folder: " +
                                     Printable(entry.path));
    return AddPayload(ArchiveContent::NewFile, entry.path, {PayloadName(entry.path)});
  }

  PublisherResult AddDiff(const FileChange& entry) {
    const std::wstring folder = ParentOf(entry.path);
    const std::wstring fileName = LastComponent(entry.path);
    std::vector<std::wstring> names = {PayloadName(JoinRelative(folder, GeneralDiffName(fileName)))};
    if (IsConverterFileName(fileName, m_converterExtension))
      names.push_back(PayloadName(JoinRelative(folder, ConverterDiffName(fileName))));
    return AddPayload(ArchiveContent::Diff, entry.path, names);
  }

  void AddList(const char* listName, const std::vector<FileChange>& entries) {
    m_plan.files.push_back({ArchiveContent::Text, {}, {TopLevelName(listName)}, FormatFileList(entries)});
  }

  // The added files' permissions, so that programs arrive executable.
  void AddModes(const std::vector<FileChange>& added) {
    std::vector<std::pair<std::wstring, std::uint32_t>> modes;
    for (const FileChange& entry : added) {
      if (entry.permissions != 0) modes.emplace_back(entry.path, entry.permissions);
    }
    if (modes.empty()) return;
    const std::string name = OS::ToUtf8(NolkPatch::kFileModesName);
    m_plan.files.push_back(
        {ArchiveContent::Text, {}, {TopLevelName(name.c_str())}, NolkPatch::FormatFileModes(modes)});
  }

  void FinishFolders() { m_plan.folders.assign(m_folders.begin(), m_folders.end()); }

 private:
  PublisherResult AddPayload(ArchiveContent content, const std::wstring& relativePath,
                             const std::vector<std::wstring>& names) {
    PublisherResult result = AddFoldersOnTheWay(ParentOf(names.front()));
    for (std::size_t i = 0; result.Ok() && i < names.size(); ++i) result = ClaimName(names[i]);
    if (result.Ok()) m_plan.files.push_back({content, relativePath, names, {}});
    return result;
  }

  // Every folder from ".\data" down to the payload's own folder.
  PublisherResult AddFoldersOnTheWay(const std::wstring& folder) {
    for (std::wstring current = folder; current.size() > 2; current = ParentOf(current)) {
      if (!NolkPatch::IsFolderEntryName(current))
        return PublisherResult::Refuse(
            "a folder with '.' in its name would unpack as a file: " +
            Printable(current.substr(std::wstring(kPayloadFolderName).size() + 1)));
      if (!NolkPatch::IsSafeEntryName(current))
        return PublisherResult::Refuse("the folder name cannot be carried in a patch archive: " +
                                       Printable(current));
      m_folders.insert(current);
    }
    return PublisherResult::Success();
  }

  // Entry names must stay distinct on a case-insensitive installation.
  PublisherResult ClaimName(const std::wstring& name) {
    if (!NolkPatch::IsSafeEntryName(name))
      return PublisherResult::Refuse("the name cannot be carried in a patch archive: " + Printable(name));
    const auto [place, inserted] = m_claimedNames.emplace(CaseFoldKey(name), name);
    if (!inserted)
      return PublisherResult::Refuse("two payload files would have the same name " + Printable(name) +
                                     " (a diff's name is also a new file's name?)");
    return PublisherResult::Success();
  }

  std::wstring m_converterExtension;
  ArchivePlan& m_plan;
  std::set<std::wstring> m_folders;
  std::map<std::wstring, std::wstring> m_claimedNames;
};

}  // namespace

PublisherResult PlanArchive(const TreeChanges& changes, const std::wstring& converterExtension,
                            ArchivePlan& plan) {
  plan = ArchivePlan{};
  PlanMaker maker(converterExtension, plan);
  PublisherResult result = maker.CheckListable(changes.added);
  if (result.Ok()) result = maker.CheckListable(changes.deleted);
  if (result.Ok()) result = maker.CheckListable(changes.changed);
  for (std::size_t i = 0; result.Ok() && i < changes.added.size(); ++i)
    result = maker.AddNewFile(changes.added[i]);
  for (std::size_t i = 0; result.Ok() && i < changes.changed.size(); ++i)
    result = maker.AddDiff(changes.changed[i]);
  if (!result.Ok()) return result;
  maker.FinishFolders();
  std::vector<std::string> warnings;
  maker.AddList(kAddedListName, changes.added);
  maker.AddList(kDeletedListName, changes.deleted);
  maker.AddList(kPatchedListName, OrderPatchedList(changes.changed, warnings));
  maker.AddModes(changes.added);
  result.warnings = std::move(warnings);
  return result;
}

}  // namespace KorvelTools
