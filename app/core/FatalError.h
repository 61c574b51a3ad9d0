// What happens when the program faults: a crash dump is written once, the
// user is told "Unhandled Exception" (caption "Fatal Error"), and the
// process ends with exit code -1 (status 255).
//
// The dump is a minidump file in the documented MDMP layout with these
// streams: a system-info stream (processor architecture AMD64 or X86,
// processor count) and an exception stream (the faulting thread's id, the
// signal number as exception code, the fault address). It carries no thread
// list, no module list and no memory, so a reader learns which signal struck
// where, not the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "app/core/MessageBox.h"

namespace NolkPatch {

// "patcher-v35673-YYYY.MM.DD-hh.mm.ss.dmp" for the given local time.
std::string CrashDumpFileName(const std::tm& localTime);

// Unless a debugger is attached: fixes the crash dump name from the current
// local time (relative to the current folder at the moment of the fault)
// and installs handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on
// an alternate stack. The message box function is called from the handler.
// Returns whether the handling was turned on.
bool InstallFatalErrorHandling(MessageBoxFunction messageBox);
// Restores the default signal handling (the program's exit).
void DisarmFatalErrorHandling();

// The fatal-fault path itself: writes the dump (once per process), shows
// the message and ends the process. Also used for exceptions that escape a
// worker body.
[[noreturn]] void HandleFatalFault(int signalNumber, std::uintptr_t faultAddress);

// Room for the minidump of one fault.
constexpr std::size_t kMinidumpSize = 512;
// Fills `buffer` with the minidump of a fault and returns its length; no
// allocation, so it can run inside a signal handler.
std::size_t BuildMinidump(int signalNumber, std::uintptr_t faultAddress, std::uint32_t threadId,
                          unsigned char (&buffer)[kMinidumpSize]);

}  // namespace NolkPatch
