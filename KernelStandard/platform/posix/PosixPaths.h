// Program paths to native paths: separators turned into '/', wide text into
// UTF-8, and components matched without regard to ASCII case when the exact
// path does not exist.
#pragma once

#include <string>

namespace OS::PosixPaths {

std::string ToNativeText(const std::wstring& path);
// Resolves each component against the real directory listing: an exact
// match wins, else an entry equal ignoring ASCII case (the first in byte
// order when several are), else the component is kept as given.
std::string ResolveCase(const std::string& nativePath);
bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b);

}  // namespace OS::PosixPaths
