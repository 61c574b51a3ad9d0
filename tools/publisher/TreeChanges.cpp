#include "tools/publisher/TreeChanges.h"

#include <map>
#include <set>

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/Platform.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

std::uint32_t PermissionsOf(const InstallTree& tree, const std::wstring& path) {
  OS::FileInfo info;
  return OS::Current().Stat(FullPathOf(tree, path), info) ? info.permissions : 0;
}

PublisherResult CheckCaseCollisions(const InstallTree& oldTree, const InstallTree& newTree) {
  std::map<std::wstring, std::wstring> fileByKey;
  for (const InstallTree* tree : {&oldTree, &newTree}) {
    for (const std::wstring& path : tree->files) {
      const auto [place, inserted] = fileByKey.emplace(CaseFoldKey(path), path);
      if (!inserted && place->second != path)
        return PublisherResult::Refuse("the names " + Printable(place->second) + " and " + Printable(path) +
                                       " differ only in case and would be one file on the installation");
    }
  }
  for (const InstallTree* tree : {&oldTree, &newTree}) {
    for (const std::wstring& folder : tree->folders) {
      const auto file = fileByKey.find(CaseFoldKey(folder));
      if (file != fileByKey.end())
        return PublisherResult::Refuse(
            "a file becomes a folder or a folder a file, which a patch cannot carry: " +
            Printable(file->second));
    }
  }
  return PublisherResult::Success();
}

PublisherResult DigestOf(const InstallTree& tree, const std::wstring& path, std::string& md5) {
  const std::wstring fullPath = FullPathOf(tree, path);
  if (!NolkUtil::Md5OfFile(fullPath, md5)) return PublisherResult::Fail("cannot read " + Printable(fullPath));
  return PublisherResult::Success();
}

PublisherResult CompareCommonFile(const InstallTree& oldTree, const InstallTree& newTree,
                                  const std::wstring& path, TreeChanges& changes) {
  FileChange change{path, {}, {}};
  PublisherResult result = DigestOf(oldTree, path, change.oldMd5);
  if (result.Ok()) result = DigestOf(newTree, path, change.newMd5);
  if (result.Ok() && change.oldMd5 != change.newMd5) changes.changed.push_back(change);
  return result;
}

}  // namespace

PublisherResult CompareInstallTrees(const InstallTree& oldTree, const InstallTree& newTree,
                                    TreeChanges& changes) {
  changes = TreeChanges{};
  PublisherResult result = CheckCaseCollisions(oldTree, newTree);
  if (!result.Ok()) return result;
  for (const std::wstring& path : oldTree.files)
    if (newTree.files.count(path) == 0) changes.deleted.push_back({path, {}, {}});
  for (const std::wstring& path : newTree.files) {
    if (oldTree.files.count(path) != 0) {
      result = CompareCommonFile(oldTree, newTree, path, changes);
    } else {
      FileChange added{path, {}, {}};
      result = DigestOf(newTree, path, added.newMd5);
      added.permissions = PermissionsOf(newTree, path);
      changes.added.push_back(added);
    }
    if (!result.Ok()) return result;
  }
  return PublisherResult::Success();
}

}  // namespace KorvelTools
