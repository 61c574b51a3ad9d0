// Which entries a patch archive holds, decided before anything is written,
// so that whatever the archive format or the file lists cannot carry is
// refused up front and no partial archive is ever left.
//
// Layout of the archive the builder writes:
//   1. the folder entries, each folder before the folders inside it:
//      ".\data" and the folders on the way to a payload file. Only those are
//      carried: empty folders of the new tree, and folders that hold only
//      deleted or unchanged files, get no entry (the engine creates the
//      folders of the files it adds, and never deletes folders);
//   2. the payload under ".\data": the added files as themselves, then
//      the changed files, each group in path order; a changed file as its diff "<name>.diff" for the general
//      diff tool, and, for the converter's files ("<stem>.va"), right after it the same diff once more under
//      the converter's name "<stem>-diff.va". The engine uses the converter's diff when "bin\VAConverter.exe"
//      is present and the general one otherwise, so the patch works either way; the converter reads the same
//      diff format as the diff tool;
//   3. the three file lists at the top level.
//
// An entry whose last component has no '.' reads as a folder. So an added
// file without '.' in its name, and a folder with '.' in its name on the way
// to a payload file, are refused. A changed file without '.' is carried: its
// diff name ends in ".diff".
#pragma once

#include <string>
#include <vector>

#include "tools/publisher/PublisherResult.h"
#include "tools/publisher/TreeChanges.h"

namespace KorvelTools {

enum class ArchiveContent {
  NewFile,  // the file of the new tree, as it stands
  Diff,     // the diff from the old tree's file to the new tree's
  Text,     // a file list
};

struct ArchiveFileEntry {
  ArchiveContent content = ArchiveContent::NewFile;
  std::wstring relativePath;        // NewFile, Diff: the file in the trees
  std::vector<std::wstring> names;  // every entry name that carries it
  std::string text;                 // Text: the list's bytes
};

struct ArchivePlan {
  std::vector<std::wstring> folders;
  std::vector<ArchiveFileEntry> files;
};

// Fills the plan from the changes. The converter extension is ".va" for the
// game's asset archives; empty leaves out the converter's diffs.
PublisherResult PlanArchive(const TreeChanges& changes, const std::wstring& converterExtension,
                            ArchivePlan& plan);

}  // namespace KorvelTools
