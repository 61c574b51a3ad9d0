// The system log: printf-style diagnostics from anywhere, written under one
// lock to standard output, the debugger output, the analysis log and the
// registered observers.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>

#include "KernelStandard/PrintfFormat.h"

enum LogDestination : unsigned {
  LOG_STDOUT = 1,
  LOG_ANALYSIS = 2,
  LOG_DEBUGGER = 4,
  LOG_OBSERVERS = 8,
  LOG_ALL = 0xFFFFFFFFu,
};

// Format into a 4,096-character buffer (longer output is cut) and pass the
// text to LogOutput with every destination. The wide forms follow the C
// library's rules for wide formats: "%ls" takes a wide string and "%s" an
// 8-bit one.
void LogPrint(const char* format, ...) KORVEL_PRINTF_FORMAT(1, 2);
void LogPrintW(const wchar_t* format, ...);
void LogPrintTo(unsigned destinations, const char* format, ...) KORVEL_PRINTF_FORMAT(2, 3);
void LogPrintToW(unsigned destinations, const wchar_t* format, ...);
// Writes one entry (8-bit text without its line end) to the chosen
// destinations, serialised by SystemLogCriticalSection().
void LogOutput(unsigned destinations, const std::string& text);

namespace Vek {
// The process-wide critical section of the system log. It is re-entrant, so
// an observer may log from inside OnLogText; Vek::AssertFailed takes it too,
// so an assertion message is never interleaved with other entries.
std::recursive_mutex& SystemLogCriticalSection();
}  // namespace Vek

// A receiver of every system-log entry (wide text ending in a line feed).
// It must be unregistered before it is destroyed, and may not register or
// unregister from inside OnLogText.
class NolkSystemLogObserver {
 public:
  virtual ~NolkSystemLogObserver();
  virtual void OnLogText(const std::wstring& text) = 0;
};

void RegisterSystemLogObserver(NolkSystemLogObserver* observer);
void UnregisterSystemLogObserver(NolkSystemLogObserver* observer);
