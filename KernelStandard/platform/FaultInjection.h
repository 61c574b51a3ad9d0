// A Platform wrapper that makes chosen calls fail, for tests of error and
// rollback paths that a real system cannot be made to produce on demand
// (a failing rename, a full disk, a refused open).
//
// A rule names an operation (the Platform member name, e.g. "MoveFile",
// "WriteStream", "GetFreeBytes"), optionally a text that the call's path must
// contain, how many matching calls to let through first, how many to fail,
// and the system error code to leave as the last error. For GetFreeBytes a
// rule may instead give a value to report.
//
// Rules can also come from the environment variable KORVEL_FAULTS, so a
// child program started by a test fails the same way:
//   KORVEL_FAULTS="MoveFile:skip=1:count=1:error=5:path=.pbk;GetFreeBytes:value=4293918720"
// Each rule is "Operation" followed by ":key=value" fields; rules are
// separated by ';'. Fields: path, skip (default 0), count (default
// unlimited), error (default 31), value, kill (kill=1: instead of failing,
// the process is killed there as by an outside SIGKILL, for tests of the
// recovery after an interrupted run).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/SystemNames.h"

namespace OS {

struct FaultRule {
  std::string operation;
  std::string pathContains;  // UTF-8; empty matches every call
  int skip = 0;              // matching calls let through before failing
  int count = -1;            // failures to inject; -1 is unlimited
  int error = ERROR_GEN_FAILURE;
  std::optional<std::uint64_t> value;  // GetFreeBytes: report this instead
  int kill = 0;                        // non-zero: the process is killed at this call
  int seen = 0;                        // matching calls so far
};

// Parses the KORVEL_FAULTS syntax; malformed rules are skipped.
std::vector<FaultRule> ParseFaultRules(const std::string& text);

class FaultInjectingPlatform;

// Installs a fault injector over the current platform for the lifetime of
// the object, and restores the previous platform on destruction.
class ScopedFaults {
 public:
  ScopedFaults();
  ~ScopedFaults();
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;

  void Add(FaultRule rule);
  // How many calls of the operation the injector has seen (failed or not).
  int Calls(const std::string& operation) const;

 private:
  std::unique_ptr<FaultInjectingPlatform> m_injector;
  Platform* m_previous = nullptr;
};

// Creates an injector over `inner` with the given rules (used for
// KORVEL_FAULTS at start-up and by ScopedFaults).
std::unique_ptr<FaultInjectingPlatform> MakeFaultInjector(Platform& inner, std::vector<FaultRule> rules);
Platform& AsPlatform(FaultInjectingPlatform& injector);

}  // namespace OS

// The injector's class, so that owners of MakeFaultInjector's result can
// destroy it.
#include "KernelStandard/platform/FaultInjectingPlatform.h"
