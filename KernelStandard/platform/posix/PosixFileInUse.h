// Whether a file is held open by another descriptor, the condition under
// which Windows refuses to move or replace it.
#pragma once

#include <string>

namespace OS::PosixFileInUse {

// Takes a write lease on a fresh descriptor, which the kernel refuses while
// any other descriptor (or a running program's image) has the file open.
// Where leases are unavailable, other processes' descriptors are looked up
// in /proc. A missing file or a folder is not in use (last error set).
bool IsOpenElsewhere(const std::string& nativePath);

}  // namespace OS::PosixFileInUse
