// The asset database lock shared with the game's programs: a 32-byte block
// of named shared memory guarded by a named mutex, both named after the
// database folder. At most one process owns the database at a time; the
// patcher joins to make sure no other game program is attached before it
// patches, and lends its ownership to the game utility while that rebuilds
// the database.
#pragma once

#include <cstdint>
#include <string>

namespace NolkPatch {

// The names of the mutex and of the shared block for a database path (8-bit
// text ending in "assets.odx" in any letter case); false for any other path.
bool MakeDatabaseIpcNames(const std::string& databasePath, std::string& mutexName, std::string& blockName);

// Joins (or creates) the block of the database at `databasePath`. A block
// held exclusively by another process is joined only when `acceptLent` is
// set and the holder lends its ownership. True when connected.
bool ConnectDatabaseIpc(const std::string& databasePath, bool acceptLent);
void DisconnectDatabaseIpc();
// The attached process count (0 when not connected; 255 means unknown).
std::uint8_t GetAttachedCount();
bool TryOwnDatabase(bool request);
bool TakeExclusiveHold();
bool LendOwnership();
bool RetakeOwnership();
void ReleaseExclusiveHold();

// Waits up to three attempts, two seconds apart, until no other game program
// is attached to the database of PatchSettings' InstallPath, then takes the
// exclusive hold. False when the database stays in use.
bool CheckFilesNotInUse();

// Lends the ownership to "bin\OmbrixUtil.exe" and runs it with
// "repairdatabase patcher norender", relaying its output (standard output at
// level 0, error output at level 1) while the progress bar advances; takes
// the ownership back afterwards. True only when the utility ran and exited
// with 0; a utility that cannot be started, fails or is killed is reported
// at level 2, and the caller keeps the rebuild owed (PatchJournal.h).
bool RebuildAssetDatabase();

}  // namespace NolkPatch
