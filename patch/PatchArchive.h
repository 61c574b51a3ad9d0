// The patch archive: one patch's files and folders as a byte sequence, and
// its unpacker. Layout (little-endian):
//   format version, unsigned 32-bit, always 1;
//   entries to the end of the archive, each
//     a name block: one compressed block stream (stream/Compression.h)
//       whose plain bytes are the entry's path relative to the destination
//       (ArchiveEntryName.h), for example .\data\bin\Launcher.exe.diff;
//     for a file entry only, a content block: one compressed block stream
//       of the file's contents (block count 0 for an empty file).
// Whether an entry is a folder or a file follows from its name alone
// (IsFolderEntryName). Folder entries come before the files inside them.
// There is no entry count, index or checksum.
//
// The writers are shared with the archive builder tool; they refuse (5)
// names that the unpacker would refuse or read as the other kind of entry.
#pragma once

#include <cstdint>
#include <string>

#include "KernelStandard/ResultCodes.h"
#include "patch/ArchiveEntryName.h"
#include "stream/NolkDataBuffer.h"

namespace NolkPatch {

inline constexpr std::uint32_t kPatchArchiveFormatVersion = 1;

// Expands the archive file into the destination folder. False when the
// archive cannot be opened, its format version is not 1, a block cannot be
// decompressed, a name is unsafe or malformed (logged as "refusing unsafe
// entry name"), or a file cannot be created (its folder entry is missing).
// What was written before a failure stays; the caller removes the folder.
bool UnpackPatchArchive(const std::wstring& archivePath, const std::wstring& destinationFolder);

NolkResult WriteArchiveHeader(NolkDataBuffer& buffer);
// A name block for a folder name.
NolkResult WriteFolderEntry(NolkDataBuffer& buffer, const std::wstring& name);
// A name block for a file name, then everything from the content source's
// position to its end as the content block.
NolkResult WriteFileEntry(NolkDataBuffer& buffer, const std::wstring& name, NolkDataBuffer& contentSource);

}  // namespace NolkPatch
