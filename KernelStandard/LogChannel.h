// The channel log: named channels whose lines carry a header with level,
// thread, elapsed time and channel name. Lines go to the kernel log file
// (when one is open), the debugger output and an optional standard stream.
// Two channels exist from start-up: "ExceptionHandler" and "Ombrix".
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "KernelStandard/PrintfFormat.h"

namespace Vek {

class LogChannel {
 public:
  enum Level : int { LEVEL_NONE = 0, LEVEL_ERROR, LEVEL_WARNING, LEVEL_DIAGNOSTIC, LEVEL_PROGRESS };
  enum DestinationBits : unsigned { DEST_LOG_FILE = 1, DEST_DEBUGGER = 2 };
  enum FormatBits : unsigned { FORMAT_LINE_END = 1, FORMAT_HEADER = 2 };

  explicit LogChannel(std::string name);
  LogChannel(const LogChannel&) = delete;
  LogChannel& operator=(const LogChannel&) = delete;

  const std::string& Name() const { return m_name; }
  // The level of the next Print, an index 0..4; other values print as 0.
  void SetLevel(int level) { m_level = level; }
  int GetLevel() const { return m_level; }
  void SetThreshold(int threshold) { m_threshold = threshold; }
  int GetThreshold() const { return m_threshold; }
  void SetDestinations(unsigned destinations) { m_destinations = destinations; }
  unsigned GetDestinations() const { return m_destinations; }
  void SetFormat(unsigned format) { m_format = format; }
  unsigned GetFormat() const { return m_format; }

  // Formats one line (no length limit) and writes it to the destinations.
  void Print(const char* format, ...) KORVEL_PRINTF_FORMAT(2, 3);

 private:
  std::string ComposeLine(const char* format, va_list args) const;
  void WriteToLogFile(const std::string& line);

  std::string m_name;
  std::atomic<int> m_threshold{2};
  std::atomic<int> m_level{LEVEL_NONE};
  // Set while this channel writes to the log file; guarded by the file's
  // guard, so only a log call from inside that write can see it set.
  bool m_writingFile = false;
  std::atomic<unsigned> m_destinations{DEST_LOG_FILE | DEST_DEBUGGER};
  std::atomic<unsigned> m_format;
};

// The channel whose name equals `name` without regard to ASCII case; a new
// channel with the default settings is created when there is none.
LogChannel& FindLogChannel(const std::string& name);

// Whether channels created from now on write the line header (default on).
void SetDefaultLogChannelHeader(bool header);

// The line header: "%c %08X %s %3.0f:%04.1f %-15.15s : " with the level
// character, thread id, level name, minutes, seconds and channel name.
std::string FormatChannelHeader(int level, std::uint32_t threadId, double elapsedSeconds,
                                const std::string& channelName);

// --- Kernel log state ---------------------------------------------------
enum class KernelLogEncoding { Ansi, Utf16 };

// Creates (or empties) the kernel log file; a UTF-16 file starts with the
// byte-order mark and takes every line in UTF-16LE. Any open file is closed
// first. False when the file cannot be created.
bool OpenKernelLogFile(const std::wstring& path, KernelLogEncoding encoding);
bool IsKernelLogFileOpen();
void SetKernelLogFlushEachLine(bool flush);
// Counter seconds (LogCounterSeconds) that elapsed times count from; 0, the
// default, means no start time: headers then show 0:00.0.
void SetKernelLogStartTime(double counterSeconds);
// A standard stream that receives every line as well; nullptr for none.
void SetKernelLogStream(std::FILE* stream);
// Writes "Shutdown.\r\n" to an open log file and closes it.
void KernelLogShutdown();
// Writes "End.\r\n" to an open log file, closes it and frees every channel:
// references obtained from FindLogChannel are invalid afterwards.
void KernelLogEnd();

}  // namespace Vek
