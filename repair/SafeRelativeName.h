// Checks for names that come from outside (the repair server's segment
// records, a cache file): before such a name is joined to the installation
// folder and written to, it must be known to stay inside that folder.
#pragma once

#include <string>

namespace NolkUtil {

// Whether a relative path stays inside the folder it is joined to. Refused:
// an empty path; NUL and the other control characters; ':' (a drive letter
// such as "C:x" or an alternate data stream such as "file:stream"); a
// leading separator (an absolute path, also "\\server\share"); and any
// component made only of dots and spaces other than "." itself ("..",
// "...", ". ", which Windows resolves to a parent folder or to nothing).
// Both '\' and '/' count as separators.
bool IsSafeRelativeName(const std::wstring& path);

// Whether a name key from outside may be used to write a segment: its path
// (SplitSegmentKey) is a safe relative name, does not end in a separator,
// and the key ends in a well-formed index (digits only, offset within
// 64 bits).
bool IsSafeSegmentKey(const std::wstring& nameKey);

}  // namespace NolkUtil
