// Whether a file can serve as the patcher of a standalone patch: a program
// this platform starts. A standalone patch is the patcher's own file with
// the package appended and keeps its permission bits, so anything else (a
// text, a library, a program for another processor, a file without execute
// permission) would give a patch that cannot start.
//
// This is the Linux check: an ELF program (ET_EXEC, or ET_DYN with a
// program interpreter, which is how position-independent programs are
// built; a shared library has none) of the same word size, byte order and
// machine as the running tool, with execute permission. A Windows build
// replaces PatcherProgramElf.cpp with a check for a PE image (an "MZ"
// header whose e_lfanew leads to "PE\0\0", the same machine, and the
// executable-image flag without the DLL flag).
#pragma once

#include <string>

#include "tools/publisher/PublisherResult.h"

namespace KorvelTools {

// Success, or Refused with a message that names the file and says why.
PublisherResult CheckPatcherProgram(const std::wstring& path);

// The platform's own part of the check, on a file that exists
// (PatcherProgramElf.cpp or PatcherProgramPe.cpp), and its refusal.
PublisherResult CheckProgramImage(const std::wstring& path);
PublisherResult NotAProgram(const std::wstring& path, const std::string& why);

}  // namespace KorvelTools
