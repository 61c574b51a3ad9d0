// What a patch has to do to turn the old installation tree into the new
// one: files added, deleted and changed, each with the MD5 digests the file
// lists carry. Files that are byte for byte the same (same MD5) are left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/publisher/InstallTree.h"
#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

struct FileChange {
  std::wstring path;   // relative, '\' between components
  std::string newMd5;  // empty for a deleted file
  std::string oldMd5;  // empty for an added file
  // Added files: the permission bits in the new tree (0 when unknown).
  std::uint32_t permissions = 0;
};

struct TreeChanges {
  std::vector<FileChange> added;
  std::vector<FileChange> deleted;
  std::vector<FileChange> changed;
};

// Compares the trees; every list comes out sorted by path.
//
// Refused: a path that is a file in one tree and a folder in the other (the
// engine adds files before it deletes any, so the new entry would meet the
// old one still in place), and two file names that differ only in ASCII
// case (they are one file on a case-insensitive installation, and adding
// one while deleting the other would delete the new file). Failed: a file
// cannot be read.
PublisherResult CompareInstallTrees(const InstallTree& oldTree, const InstallTree& newTree,
                                    TreeChanges& changes);

}  // namespace KorvelTools
