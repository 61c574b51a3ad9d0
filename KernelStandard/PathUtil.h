// Path text helpers: separator normalisation, splitting a path into folder,
// name and extension, joining, and relative names. None of them touches the
// file system.
//
// Paths are wide strings inside the program. The helpers that yield a name
// or an extension return the 8-bit form (NolkUtil::ToNarrow), because their
// callers compare or print them as 8-bit text.
#pragma once

#include <string>

namespace NolkUtil {

// Replaces every '/' and '\' by `separator` (always '\' in this program).
std::wstring NormalizeSeparators(std::wstring path, wchar_t separator = L'\\');

// The part of `path` after the longest common leading run of characters it
// shares with `base` (exact, case-sensitive comparison of the normalised
// texts), with one following '\' skipped if present.
std::wstring RelativePath(std::wstring base, std::wstring path);

// The text after the last '/' or '\' (the whole text if there is none).
std::string FileNamePart(const std::wstring& path);

// Whether the path's extension (the text after the last '.' that follows
// the last separator) equals `extension` without regard to ASCII case. A
// leading '.' of `extension` is ignored. A path without extension matches
// exactly the empty extension; a path with one never matches the empty one.
bool HasExtension(const std::wstring& path, std::wstring extension);

// The path without its extension and the '.' before it.
std::string StripExtension(const std::wstring& path);

// The extension without the '.'; empty when there is none.
std::string GetExtension(const std::wstring& path);

// base + "/" + tail, with the tail's leading separators dropped; no "/" is
// added when base already ends in a separator. An empty base gives the tail
// unchanged.
std::wstring JoinPath(const std::wstring& base, const std::wstring& tail);

}  // namespace NolkUtil
