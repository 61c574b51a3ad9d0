// The files and folders of one installation tree, by relative path ('\'
// between components), as the archive builder compares them.
#pragma once

#include <map>
#include <set>
#include <string>

#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

struct InstallTree {
  std::wstring root;
  std::set<std::wstring> files;
  std::set<std::wstring> folders;
};

// Deeper nesting than this is taken for a link loop and refused.
inline constexpr int kMaxTreeDepth = 64;

// Lists every file and folder below root. Refused when root is not a
// folder, a name holds a '\' (it would read as a separator in the lists), or
// the nesting is deeper than kMaxTreeDepth; Failed when a folder cannot be
// listed.
PublisherResult ScanInstallTree(const std::wstring& root, InstallTree& tree);

// The platform path of a tree's relative path.
std::wstring FullPathOf(const InstallTree& tree, const std::wstring& relativePath);

}  // namespace KorvelTools
