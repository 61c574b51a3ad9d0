// The system log: printf-style diagnostics from anywhere, written under one
// lock to standard output, the debugger output, the analysis log and the
// registered observers.
#pragma once

#include <cstdarg>
#include <string>

enum LogDestination : unsigned {
  LOG_STDOUT = 1,
  LOG_ANALYSIS = 2,
  LOG_DEBUGGER = 4,
  LOG_OBSERVERS = 8,
  LOG_ALL = 0xFFFFFFFFu,
};

// Format into a 4,096-character buffer (longer output is cut) and pass the
// text to LogOutput with every destination.
void LogPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogPrintW(const wchar_t* format, ...);
void LogPrintTo(unsigned destinations, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogPrintToW(unsigned destinations, const wchar_t* format, ...);
void LogOutput(unsigned destinations, const std::string& text);

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
