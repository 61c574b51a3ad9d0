// The channel log and the kernel log file it writes to.
#include "KernelStandard/LogChannel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "KernelStandard/LogClock.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"

namespace Vek {
namespace {

struct LevelInfo {
  char character;
  const char* name;
};

constexpr LevelInfo kLevels[] = {
    {' ', "None"}, {'!', "Err "}, {'?', "Warn"}, {'+', "Diag"}, {'-', "Prog"},
};
constexpr int kLevelCount = sizeof kLevels / sizeof kLevels[0];

std::atomic<bool> g_defaultHeader{true};

// The kernel log file and what goes with it. The file goes through the
// platform's stream functions.
struct KernelLogState {
  std::recursive_mutex guard;  // held around every write to the file
  std::FILE* file = nullptr;
  KernelLogEncoding encoding = KernelLogEncoding::Ansi;
  std::atomic<bool> flushEachLine{false};
  std::atomic<double> startTime{0.0};
  std::atomic<std::FILE*> stream{nullptr};
};

KernelLogState& KernelLog() {
  // Never destroyed: channels may print while static objects are torn down.
  static auto* state = Vek::NewForTheRun<KernelLogState>();
  return *state;
}

struct ChannelList {
  std::mutex lock;
  std::vector<std::unique_ptr<LogChannel>> channels;
};

ChannelList& Channels() {
  static auto* list = Vek::NewForTheRun<ChannelList>();
  return *list;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string FormatUnbounded(const char* format, va_list args) {
  if (format == nullptr) return {};
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

double ElapsedSeconds() {
  const double start = KernelLog().startTime;
  return start > 0 ? LogCounterSeconds() - start : 0.0;
}

std::string EncodeForFile(const std::string& line, KernelLogEncoding encoding) {
  if (encoding == KernelLogEncoding::Ansi) return line;
  std::string bytes;
  for (wchar_t c : NolkUtil::ToWide(line)) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return bytes;
}

// Writes a closing line to the open file and closes it. The caller holds
// the guard.
void CloseKernelLogFile(const char* closingLine) {
  KernelLogState& log = KernelLog();
  if (log.file == nullptr) return;
  const std::string bytes = EncodeForFile(closingLine, log.encoding);
  OS::Current().WriteStream(log.file, bytes.data(), bytes.size());
  OS::Current().CloseStream(log.file);
  log.file = nullptr;
}

// The channels that exist from start-up.
[[maybe_unused]] LogChannel& g_exceptionHandlerChannel = FindLogChannel("ExceptionHandler");
[[maybe_unused]] LogChannel& g_ombrixChannel = FindLogChannel("Ombrix");

}  // namespace

LogChannel::LogChannel(std::string name)
    : m_name(std::move(name)), m_format(FORMAT_LINE_END | (g_defaultHeader ? FORMAT_HEADER : 0u)) {}

void LogChannel::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = ComposeLine(format, args);
  va_end(args);
  if (m_destinations & DEST_LOG_FILE) WriteToLogFile(line);
  if (m_destinations & DEST_DEBUGGER) OS::Current().DebugOutput(line);
  if (std::FILE* stream = KernelLog().stream) OS::Current().WriteStream(stream, line.data(), line.size());
}

std::string LogChannel::ComposeLine(const char* format, va_list args) const {
  std::string line;
  if (m_format & FORMAT_HEADER)
    line = FormatChannelHeader(m_level, OS::Current().ThreadId(), ElapsedSeconds(), m_name);
  line += FormatUnbounded(format, args);
  if (m_format & FORMAT_LINE_END) line += "\r\n";
  return line;
}

void LogChannel::WriteToLogFile(const std::string& line) {
  KernelLogState& log = KernelLog();
  std::lock_guard lock(log.guard);
  // Another thread waits on the guard instead; only a log call made from
  // inside this write sees the flag and skips the file.
  if (log.file == nullptr || m_writingFile) return;
  m_writingFile = true;
  const std::string bytes = EncodeForFile(line, log.encoding);
  OS::Current().WriteStream(log.file, bytes.data(), bytes.size());
  if (log.flushEachLine) OS::Current().FlushStream(log.file, false);
  m_writingFile = false;
}

std::string FormatChannelHeader(int level, std::uint32_t threadId, double elapsedSeconds,
                                const std::string& channelName) {
  const LevelInfo& info = kLevels[(level >= 0 && level < kLevelCount) ? level : 0];
  // Whole minutes and the remaining seconds, taken from the time in tenths
  // of a second so the seconds never show as 60.0.
  const long long tenths = std::llround(std::max(elapsedSeconds, 0.0) * 10.0);
  const double minutes = static_cast<double>(tenths / 600);
  const double seconds = static_cast<double>(tenths % 600) / 10.0;
  char header[64];
  std::snprintf(header, sizeof header, "%c %08X %s %3.0f:%04.1f %-15.15s : ", info.character,
                static_cast<unsigned>(threadId), info.name, minutes, seconds, channelName.c_str());
  return header;
}

LogChannel& FindLogChannel(const std::string& name) {
  ChannelList& list = Channels();
  std::lock_guard lock(list.lock);
  for (const auto& channel : list.channels)
    if (EqualsIgnoringCase(channel->Name(), name)) return *channel;
  Vek::ProcessLifetimeScope keptForTheRun;  // channels stay until the process ends
  list.channels.push_back(std::make_unique<LogChannel>(name));
  return *list.channels.back();
}

void SetDefaultLogChannelHeader(bool header) {
  g_defaultHeader = header;
}

bool OpenKernelLogFile(const std::wstring& path, KernelLogEncoding encoding) {
  KernelLogState& log = KernelLog();
  std::lock_guard lock(log.guard);
  if (log.file != nullptr) OS::Current().CloseStream(log.file);
  log.file = OS::Current().OpenStream(path, OS::OpenMode::CreateTruncate);
  log.encoding = encoding;
  if (log.file == nullptr) return false;
  if (encoding == KernelLogEncoding::Utf16) OS::Current().WriteStream(log.file, "\xFF\xFE", 2);
  return true;
}

bool IsKernelLogFileOpen() {
  KernelLogState& log = KernelLog();
  std::lock_guard lock(log.guard);
  return log.file != nullptr;
}

void SetKernelLogFlushEachLine(bool flush) {
  KernelLog().flushEachLine = flush;
}

void SetKernelLogStartTime(double counterSeconds) {
  KernelLog().startTime = counterSeconds;
}

void SetKernelLogStream(std::FILE* stream) {
  KernelLog().stream = stream;
}

void KernelLogShutdown() {
  KernelLogState& log = KernelLog();
  std::lock_guard lock(log.guard);
  CloseKernelLogFile("Shutdown.\r\n");
}

void KernelLogEnd() {
  {
    KernelLogState& log = KernelLog();
    std::lock_guard lock(log.guard);
    CloseKernelLogFile("End.\r\n");
  }
  ChannelList& list = Channels();
  std::lock_guard lock(list.lock);
  list.channels.clear();
}

}  // namespace Vek
