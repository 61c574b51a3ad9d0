// Crash and exception reports: what a fault leaves behind for a developer.
//
//  - WriteExceptionReport: "ERRORLOG.TXT" (program, fault, time, system,
//    registers, code bytes, stack words, modules) and the minidump
//    "CRASH.DMP" in the temporary folder, then the crash-report program
//    "XCrashReport.exe" from the program's folder with the program's file
//    name as its argument. Once per process.
//  - WriteMiniDump: the unhandled-fault dump "Ombrix-40040.dmp" (a unique
//    name in the current folder). Once per process.
//  - InstallCrashHandlers: fatal signals (on an alternate stack) go to the
//    report (for threads other than the main thread) and then to
//    WriteMiniDump, after which the process ends with status 255; the C++
//    runtime's terminate path ends the same way; an exit trap turns an
//    unplanned process exit into a dump until DisarmExitTrap is called.
//
// Everything that runs from the signal handler before the files are
// written uses fixed buffers and the platform's signal-safe calls; the log
// lines that follow a written dump are best effort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KernelStandard/platform/Platform.h"

namespace Vek {

constexpr int kCrashExitCode = 255;  // -1 as a process status

// Fixes the places the fault path needs (program path, temporary folder,
// user, time zone); InstallCrashHandlers calls it, and so does any other
// installer of a fatal-signal handler that calls WriteExceptionReport.
void PrepareCrashReports();

// Console mode 1 (what the programs pass): an interrupt, a closed terminal
// or a terminate request ends the program quietly, as the event would;
// otherwise ConsoleCloseRequested() is set and the event is ignored.
void InstallCrashHandlers(int consoleMode);
void DisarmExitTrap();
bool ExitTrapArmed();
bool ConsoleCloseRequested();

// A minidump of another running process, "nolk-remote-v35673.dmp" named as
// WriteMiniDump names its dumps; the path used goes to `pathOut`.
bool WriteRemoteMiniDump(std::uint32_t processId, char* pathOut, std::size_t capacity);

// Fault handlers call these around the report and the dumps: one faulting
// thread at a time goes through (the others wait for it). After a handled
// exception report, a thread calls HandOverIfAnotherThreadFaulted: when
// another thread has faulted meanwhile, that one goes on (to the dump) and
// this call never returns; otherwise it returns at once.
void EnterCrashPath();
void HandOverIfAnotherThreadFaulted();

// 1 when the crash-report program was started, else 0.
int WriteExceptionReport(const OS::FatalFault& fault);
// Always 1 (the process is to end); a second call writes nothing.
int WriteMiniDump(const OS::FatalFault& fault);

// The dump path for `fileName`: the (empty) log folder and subfolder, then
// the first of name, name_2, name_3 ... (before the extension) that does
// not exist yet. False when the result would not fit in `capacity`.
bool MakeDumpFilePath(const char* fileName, const char* subfolder, char* out, std::size_t capacity);

// Logs the calling thread's call stack: "callstack: <addresses>", then,
// with symbols, one line per frame "  module symbol [file:line]".
void LogCallStack(bool withSymbols);

// Texts of the report, exposed for tests.
const char* ExceptionDescription(std::uint32_t code);
// The Windows-style exception code of a fault (0xC0000005 for a memory
// fault, ...); the signal number when there is no equivalent.
std::uint32_t ExceptionCodeOf(const OS::FatalFault& fault);
// "month/day/year hh:mm:ss" with the seconds rounded down to even.
void FormatReportTime(std::int64_t utcSeconds, std::int64_t zoneOffsetSeconds, char* out,
                      std::size_t capacity);

}  // namespace Vek
