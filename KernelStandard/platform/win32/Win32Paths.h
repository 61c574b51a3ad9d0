// Program paths to Windows paths (private to the win32 backend).
#pragma once

#include <string>

namespace OS::Win32Paths {

// '/' becomes '\'; a path too long for the classic calls becomes its full
// form with the "\\?\" (or "\\?\UNC\") prefix, which lifts the MAX_PATH
// limit. Short paths are left relative, as the caller gave them.
std::wstring ToNative(const std::wstring& path);
// The same for a UTF-8 native path (crash files, fault paths).
std::wstring ToNative(const char* nativePath);
// The path without a trailing separator (a drive root "C:\" keeps it), as
// the folder calls want.
std::wstring WithoutTrailingSeparator(const std::wstring& path);

}  // namespace OS::Win32Paths
