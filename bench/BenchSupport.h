// Small helpers the benchmark programs share: wall-clock timing, running a
// reference tool to its end, and generated test data.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
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

using Bytes = std::vector<std::uint8_t>;

// Log-like records: compressible text with repeating structure.
inline Bytes RecordText(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Bytes bytes;
  bytes.reserve(length + 128);
  while (bytes.size() < length) {
    const std::string record =
        "object " + std::to_string(generator() % 100000) + " mesh=m" + std::to_string(generator() % 700) +
        ".va pos=" + std::to_string(generator() % 9999) + "," + std::to_string(generator() % 9999) + "\n";
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  bytes.resize(length);
  return bytes;
}

}  // namespace BenchSupport
