// The kernel's start-up step. A program calls KernelStartup() before
// anything else of the kernel (first thing in main, or from its earliest
// static initialiser); later calls do nothing. It
//   - sets the C library's character-type locale to the one of the user's
//     environment (Windows: the system ANSI code page, ".ACP"),
//   - records the main thread's id,
//   - creates the kernel's shared string pool,
//   - registers the kernel's shutdown routine (which frees the pool) in the
//     table of shutdown callbacks, which run in reverse order at exit.
#pragma once

#include <cstdint>

#include "KernelStandard/StringPool.h"

void KernelStartup();

namespace Vek {

constexpr int kMaxShutdownCallbacks = 1024;

// The id of the thread that ran KernelStartup (0 before).
std::uint32_t MainThreadId();
// The shared string pool (null before KernelStartup and after shutdown).
StringPool* KernelStringPool();
// Adds a callback to run at exit. More than kMaxShutdownCallbacks is a
// programming error that stops the program.
void RegisterShutdownCallback(void (*callback)());
// Runs the registered callbacks, newest first, once (KernelStartup has the
// C library call it at exit).
void RunShutdownCallbacks();

}  // namespace Vek
