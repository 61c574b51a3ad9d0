// The named application mutex: one per installation folder, shared by the
// game's programs, so a program can tell whether another one runs from the
// same folder, or claim the folder for itself alone.
//
// The name is "NOLK_" and the folder in lower case with every character
// outside A-Z, a-z, 0-9, '-', '.' and '_' (separators included) turned into
// '_'; "C:\Games\Sim\" and "C:\Games\Sim" both give "NOLK_c__games_sim".
//
// Exclusive access means no other process may open the mutex: the
// platform layer's access mutex, which on Windows has an empty access list.
#pragma once

#include <string>

namespace NolkUtil {

// The mutex name for an application folder.
std::string ApplicationMutexName(const std::wstring& applicationFolder);

// Opens the application mutex of the folder. Exclusive: fails when the
// mutex exists already (another process, or this one, holds it). Shared:
// opens the existing mutex or creates it, and fails when another process
// holds it exclusively. When this process already holds the mutex, the
// answer is true unless exclusive access is asked after a shared open
// (then the request is logged and refused).
bool OpenApplicationMutex(const std::wstring& applicationFolder, bool exclusive);
// Closes this process's application mutex, if any.
void CloseApplicationMutex();
// Whether this process created the mutex (false when it holds none).
bool ApplicationMutexCreatedHere();

}  // namespace NolkUtil
