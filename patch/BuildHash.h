// The build hash: identifies an installed build of the game by the MD5
// digest of its launcher, "bin/Launcher.exe" under the installation folder.
#pragma once

#include <string>

namespace NolkPatch {

// The launcher's path under an installation folder (JoinPath, then
// NormalizeSeparators).
std::wstring LauncherPath(const std::wstring& installFolder);

// MD5 of the whole launcher file, read as raw bytes, as 32 lower-case
// hexadecimal digits. False (and `hex` empty) when the file cannot be read.
bool ComputeBuildHash(const std::wstring& installFolder, std::string& hex);

}  // namespace NolkPatch
