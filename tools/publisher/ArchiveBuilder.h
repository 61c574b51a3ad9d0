// The patch archive builder: compares an old and a new installation tree
// and writes the patch archive that turns one into the other (its entries
// and layout are described in ArchivePlan.h, its lists in FileLists.h).
// Files present in both trees with the same MD5 are not carried; changed
// files travel as diffs made with CreateDiff (tools/diff/ZstdDiff.h).
//
// "bin\Launcher.exe" is an ordinary changed file here: its MD5 is the build
// hash of the installed build, which the packager's build-hash table maps
// to a version.
//
// Everything the archive or its lists cannot carry, and a patch that would
// change nothing, is refused before the archive is opened; the archive is
// written under a temporary name and appears only when complete
// (StagedOutput.h).
#pragma once

#include <string>

#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

struct ArchiveBuildOptions {
  std::wstring oldTree;
  std::wstring newTree;
  std::wstring archivePath;
  // Files rebuilt by the asset converter when it is installed; empty for
  // none. Must be '.' and a name without further '.'.
  std::wstring converterExtension = L".va";
  // Write the archive even when no file differs between the trees. Such a
  // patch changes nothing, which is nearly always a mistake (the same tree
  // given twice), so it is refused unless asked for.
  bool allowEmpty = false;
};

PublisherResult BuildPatchArchive(const ArchiveBuildOptions& options);

// Whether the text can serve as the converter extension.
bool IsValidConverterExtension(const std::wstring& extension);

}  // namespace KorvelTools
