// The few C library calls the kernel tests make for their scratch folders
// and environment, where Windows has them under other names. Tests create
// their folders under "/tmp", which on Windows names the folder \tmp of the
// current drive. Empty elsewhere.
#pragma once

#ifdef _WIN32

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include <cstring>
#include <random>

#include "KernelStandard/platform/SystemNames.h"

// Replaces the trailing "XXXXXX" with random letters and creates the folder
// (creating \tmp first when the pattern lies in it); the pattern or null.
inline char* mkdtemp(char* pattern) {
  const std::size_t length = std::strlen(pattern);
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) return nullptr;
  if (std::strncmp(pattern, "/tmp/", 5) == 0) _mkdir("/tmp");
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t i = length - 6; i < length; ++i)
      pattern[i] = kLetters[random() % (sizeof(kLetters) - 1)];
    if (_mkdir(pattern) == 0) return pattern;
  }
  return nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char* name) {
  return _putenv_s(name, "");
}

// A pipe as the C runtime makes it (binary, 64 KiB).
inline int pipe(int fds[2]) {
  return _pipe(fds, 65536, _O_BINARY);
}

// Ends a process as SIGKILL would: at once, with no clean-up of its own.
#ifndef SIGKILL
#define SIGKILL 9
#endif
inline int kill(int pid, int signalNumber) {
  if (signalNumber != SIGKILL) return -1;
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return -1;
  const BOOL ended = ::TerminateProcess(process, 1);
  ::CloseHandle(process);
  return ended ? 0 : -1;
}

#endif  // _WIN32
