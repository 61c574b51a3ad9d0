#include "tools/publisher/InstallTree.h"

#include <vector>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

class TreeScanner {
 public:
  explicit TreeScanner(InstallTree& tree) : m_tree(tree) {}

  PublisherResult ScanFolder(const std::wstring& relativeFolder, int depth) {
    if (depth > kMaxTreeDepth)
      return PublisherResult::Refuse("folders nested deeper than " + std::to_string(kMaxTreeDepth) +
                                     " levels (a link loop?): " + Printable(relativeFolder));
    std::vector<OS::DirEntry> entries;
    const std::wstring fullFolder = FullPathOf(m_tree, relativeFolder);
    if (!OS::Current().ListDirectory(fullFolder, entries))
      return PublisherResult::Fail("cannot list the folder " + Printable(fullFolder));
    for (const OS::DirEntry& entry : entries) {
      PublisherResult result = ScanEntry(relativeFolder, entry, depth);
      if (!result.Ok()) return result;
    }
    return PublisherResult::Success();
  }

 private:
  PublisherResult ScanEntry(const std::wstring& relativeFolder, const OS::DirEntry& entry, int depth) {
    const std::wstring path = JoinRelative(relativeFolder, entry.name);
    if (entry.name.find(L'\\') != std::wstring::npos)
      return PublisherResult::Refuse("a name holds a '\\', which the patch lists read as a separator: " +
                                     Printable(FullPathOf(m_tree, relativeFolder)) + "/" +
                                     Printable(entry.name));
    if (!entry.isDirectory) {
      m_tree.files.insert(path);
      return PublisherResult::Success();
    }
    m_tree.folders.insert(path);
    return ScanFolder(path, depth + 1);
  }

  InstallTree& m_tree;
};

}  // namespace

PublisherResult ScanInstallTree(const std::wstring& root, InstallTree& tree) {
  tree = InstallTree{root, {}, {}};
  OS::FileInfo info;
  if (!OS::Current().Stat(root, info) || !info.isDirectory)
    return PublisherResult::Refuse("not a folder: " + Printable(root));
  TreeScanner scanner(tree);
  return scanner.ScanFolder(std::wstring(), 0);
}

std::wstring FullPathOf(const InstallTree& tree, const std::wstring& relativePath) {
  return relativePath.empty() ? tree.root : NolkUtil::JoinPath(tree.root, relativePath);
}

}  // namespace KorvelTools
