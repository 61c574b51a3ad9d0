// Small helpers the benchmark programs share: wall-clock timing and running
// a reference tool to its end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace BenchSupport {

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a program to its end, its output discarded; false unless it exits 0.
inline bool Run(const std::vector<std::string>& argv) {
  OS::Platform& platform = OS::Current();
  OS::SpawnedProcess child;
  if (!platform.SpawnWithPipe(argv, child)) return false;
  char buffer[4096];
  while (platform.ReadPipe(child.outputFd, buffer, sizeof buffer) > 0) {
  }
  platform.ClosePipe(child.outputFd);
  int exitCode = -1;
  return platform.WaitProcess(child.pid, -1, exitCode) && exitCode == 0;
}

}  // namespace BenchSupport
