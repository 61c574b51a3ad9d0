// Copying a regular file's bytes and permission bits, for CopyFile and for
// moves between file systems.
#pragma once

#include <string>

namespace OS::PosixFileCopy {

// Copies `from` to `to`, creating `to` with the source's permission bits;
// an existing `to` is truncated when `overwrite` is set and refused with
// ERROR_FILE_EXISTS otherwise. A folder as source is refused with
// ERROR_ACCESS_DENIED, a destination that is the source itself with
// ERROR_SHARING_VIOLATION (truncating it would destroy the data). A failed
// copy leaves no destination behind. Sets the last error on failure. The
// data is not forced to the disk.
bool CopyRegularFile(const std::string& from, const std::string& to, bool overwrite);

// Copies the rest of `source` to `destination` from both descriptors'
// current offsets. The kernel copies in place with copy_file_range where the
// file systems allow it; otherwise the bytes go through a 1 MiB buffer.
// errno tells why a failed copy stopped.
bool CopyDescriptorBytes(int source, int destination);

}  // namespace OS::PosixFileCopy
