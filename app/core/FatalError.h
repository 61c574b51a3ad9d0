// What happens when the program faults: a crash dump is written once, the
// user is told "Unhandled Exception" (caption "Fatal Error"), and the
// process ends with exit code -1 (status 255).
//
// The dump is a full minidump (see OS::Platform::WriteMinidump): every
// thread's registers and stack, the modules with their build ids and the
// exception, so a debugger opened on it with the program shows the stacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "KernelStandard/platform/Platform.h"
#include "app/core/MessageBox.h"

namespace NolkPatch {

// "patcher-v35673-YYYY.MM.DD-hh.mm.ss.dmp" for the given local time.
std::string CrashDumpFileName(const std::tm& localTime);

// Installs the kernel's crash handlers (Vek::InstallCrashHandlers: from now
// on an unplanned exit leaves a dump), then, unless a debugger is
// attached: fixes the crash dump name from the current
// local time (relative to the current folder at the moment of the fault)
// and installs handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on
// an alternate stack. The message box function is called from the handler.
// Returns whether the handling was turned on.
bool InstallFatalErrorHandling(MessageBoxFunction messageBox);
// The planned exit: disarms the exit trap and restores the default signal
// handling. Every exit path of a program calls it.
void DisarmFatalErrorHandling();

// The fatal-fault path itself: writes the dump (once per process), shows
// the message and ends the process. A fault from the signal handler brings
// its machine context; code that ends the program on purpose (an exception
// escaping a worker) passes only the signal.
[[noreturn]] void HandleFatalFault(const OS::FatalFault& fault);
[[noreturn]] void HandleFatalFault(int signalNumber, std::uintptr_t faultAddress);

}  // namespace NolkPatch
