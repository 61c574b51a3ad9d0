// The diff format (ZstdDiff.h) applied to files through the platform layer.
// Applying maps the old file, reads the diff and writes the new file in
// blocks as it is decoded, so the only memory it needs beyond zstd's window
// is one block; creating reads both files whole. A result is written under a
// temporary name beside the destination and renamed into place only when it
// is complete and its content checksum verified, so a failure never leaves a
// partial file behind.
//
// The result is not forced to the disk (no fsync), as with cp or zstd: a
// system crash soon after may leave the destination empty or missing, never
// a mix of old and new bytes under its name. A caller that needs the file
// to survive a crash forces it out itself, once, when it commits: the patch
// engine does so for every file it rebuilt before it drops the old ones'
// backups (patch/CommitToDisk.h), which costs far less than one forced
// write inside every run of the tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/diff/ZstdDiff.h"

namespace KorvelTools {

enum class DiffFileResult {
  Ok,
  OldUnreadable,      // the old file cannot be opened or read
  NewUnreadable,      // creating: the new file cannot be opened or read
  DiffUnreadable,     // applying: the diff cannot be opened or read
  OutputNotWritable,  // the result cannot be written or moved into place
  WrongOldFile,       // the diff was made from another old file
  Corrupt,            // the diff is damaged or not a diff
  CreateFailed        // zstd could not make the diff
};

// Reads a whole regular file; false for a missing file, a folder, a failed
// read or a file too large for memory. With a hasher, every piece read is
// hashed while it is still in the cache.
bool ReadWholeFile(const std::wstring& path, UninitializedBytes& bytes, OldFileHasher* hasher = nullptr);

// Writes bytes to path + ".part<process id>" (to "~vpatch.part<process id>"
// in the same folder when that name would exceed 255 bytes) and renames
// that over path (replacing an existing file). On failure the temporary file is removed
// and an existing file at path is left as it was.
bool WriteFileReplacing(const std::wstring& path, ByteSpan bytes);

DiffFileResult ApplyDiffFile(const std::wstring& oldPath, const std::wstring& diffPath,
                             const std::wstring& newPath);
DiffFileResult CreateDiffFile(const std::wstring& oldPath, const std::wstring& newPath,
                              const std::wstring& diffPath, const DiffOptions& options = {});

}  // namespace KorvelTools
