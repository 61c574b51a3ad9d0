// The installation's patch journal: "KorvelPatch.journal" in the
// installation folder says what a run left unfinished, so that the next run
// knows which ".pbk" backups are whose and whether the asset database still
// has to be rebuilt.
//
//   rebuild owed   set before the first patch of a run changes a file,
//                  cleared only when the game utility has rebuilt the asset
//                  database to a successful end;
//   applying P     patch P may have changed files: every backup beside the
//                  files of P's lists was made by P's run (a run refuses to
//                  start P while unexplained backups stand there), so the
//                  next run of P moves them all back;
//   committed P    P's files are in place and on the disk; the backups
//                  listed are leftovers to drop;
//   version V      the version the last committed patch reached.
//
// The file is replaced atomically and forced to the disk, so a kill leaves
// either the old or the new state. No journal means nothing is unfinished.
// The "IsPatching" registry marker is kept as well: the game reads it.
#pragma once

#include <string>
#include <vector>

namespace NolkPatch {

enum class JournalPhase { None, Applying, Committed };

struct PatchJournal {
  bool rebuildOwed = false;
  JournalPhase phase = JournalPhase::None;
  std::string patch;                  // the patch name ("100_to_200") unless phase is None
  std::vector<std::wstring> backups;  // Committed: backups still to drop
  // The version the last committed patch reached. A package that does not
  // list that build's launcher still finds the leftovers and the rebuild
  // owed to it.
  std::string version;

  bool Empty() const { return !rebuildOwed && phase == JournalPhase::None && version.empty(); }
};

// The journal's path in an installation folder.
std::wstring PatchJournalPath(const std::wstring& installFolder);

// A missing journal reads as an empty one. False when the file exists but
// cannot be read or is not a journal; the run must then not guess.
bool ReadPatchJournal(const std::wstring& installFolder, PatchJournal& journal);
// Writes the journal durably (an empty one removes the file). False when it
// could not be written; the previous state is then still on the disk.
bool WritePatchJournal(const std::wstring& installFolder, const PatchJournal& journal);

// The text form, exposed for tests and the fuzz target.
std::string FormatPatchJournal(const PatchJournal& journal);
bool ParsePatchJournal(const std::string& text, PatchJournal& journal);

}  // namespace NolkPatch
