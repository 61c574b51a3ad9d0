// What the fault path needs to know, fixed before any fault (at handler
// installation), so the signal handler only reads it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vek {

constexpr std::size_t kCrashPathCapacity = 1024;

struct CrashReportState {
  char programPath[kCrashPathCapacity] = "Unknown";
  char programFolder[kCrashPathCapacity] = ".";
  char programFileName[256] = "Unknown";
  char programName[256] = "Unknown";  // the file name without its extension
  char userName[256] = "Unknown";
  char tempFolder[kCrashPathCapacity] = "/tmp/";  // ends in '/'
  std::int64_t zoneOffsetSeconds = 0;
  // Whether a debugger was attached when the handlers were installed (the
  // fault path cannot ask the system safely).
  bool debuggerAttached = false;
};

CrashReportState& CrashState();

const char* FileNamePart(const char* path);
std::int64_t CurrentUtcSeconds();
int CreateCrashFile(const char* path);
void WriteToFile(int file, const char* data, std::size_t length);
void CloseCrashFile(int file);

}  // namespace Vek
