// The analysis log: a text file of "key: value" entries, each optionally
// prefixed with the date and time of day. Consecutive repeats of an entry
// are counted instead of written and summarised as "[N lines suppressed]".
//
// The file is written through the platform's stream functions rather than a
// data buffer: the kernel library sits below the stream library and may not
// depend on it.
//
// One process-wide instance exists once StartAnalysisLog has run; the system
// log's LOG_ANALYSIS destination writes to it. Nothing in the program starts
// it yet.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace Vek {

// A point where the time of day and the counter were read together; the
// time of each entry is this point plus the counter time elapsed since.
struct AnalysisTimeReference {
  std::chrono::year_month_day date;  // local date at the reference point
  double secondOfDay = 0;            // local time of day, in seconds
  double counter = 0;                // LogCounterSeconds() at the same moment
};

// The local date and time of day now, paired with the counter.
AnalysisTimeReference CurrentTimeReference();

// "%02d.%02d.%02d  %02d:%02d:%02d.%02d| ": two-digit year, month, day, then
// hours, minutes, seconds and hundredths at counter reading `counterNow`.
// A time of day outside 0..24 h moves the date back or forward.
std::string FormatAnalysisTimestamp(const AnalysisTimeReference& reference, double counterNow);

class AnalysisLog {
 public:
  explicit AnalysisLog(std::wstring path);
  ~AnalysisLog();
  AnalysisLog(const AnalysisLog&) = delete;
  AnalysisLog& operator=(const AnalysisLog&) = delete;

  // Writes "key: value\r\n" as one entry.
  void Write(const std::wstring& key, const std::wstring& value);
  // Writes 8-bit text (which carries its own line end) as one entry.
  void WriteRaw(const char* text, std::size_t length);
  // With the flag set every entry is written and flushed, repeats included;
  // setting it flushes the file at once.
  void SetFlushEachLine(bool flush);
  // Writes a pending suppressed-lines summary and flushes the file.
  void Flush();
  // A disabled log ignores every call.
  void SetEnabled(bool enabled);

  // The process-wide instance; nullptr until StartAnalysisLog.
  static AnalysisLog* Instance();

 private:
  void WriteEntry(std::string text);
  bool EnsureOpen();
  void WriteSuppressedSummary();
  void WriteLine(const std::string& text);

  std::recursive_mutex m_mutex;
  std::wstring m_path;
  std::FILE* m_file = nullptr;
  std::string m_previousEntry;
  bool m_hasPreviousEntry = false;
  int m_suppressedCount = 0;
  bool m_enabled = true;
  bool m_flushEachLine = false;
};

// Records the time reference, creates the process-wide instance writing to
// `path` (created or emptied when the first entry is written) and writes the
// entries "Local time" and "AnalysisLog: Build Version". A running log is
// stopped first.
void StartAnalysisLog(const std::wstring& path, bool timestamps = true);
// Flushes and closes the process-wide instance.
void StopAnalysisLog();
// Takes a new time reference. Logs "Time resync" with "%d:%d -> %d:%d" (old
// second of day, time of day by the old reference, new second of day, time
// of day by the new one, all at `counterNow`) unless the second of day is
// unchanged and the two times differ by at most a second.
void ResyncAnalysisTime(const AnalysisTimeReference& reference, double counterNow);

}  // namespace Vek
