// The analysis log file with its timestamps and repeat suppression.
#include "KernelStandard/AnalysisLog.h"

#include <atomic>
#include <cmath>
#include <ctime>

#include "KernelStandard/Log.h"
#include "KernelStandard/LogClock.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/LocalTime.h"
#include "KernelStandard/platform/Platform.h"

namespace Vek {
namespace {

constexpr long long kHundredthsPerDay = 24LL * 60 * 60 * 100;
constexpr const wchar_t* kBuildVersion = L"35673";

// The process-wide time reference and whether entries carry timestamps.
struct TimeState {
  std::mutex lock;
  AnalysisTimeReference reference{
      std::chrono::year_month_day{std::chrono::year{1970}, std::chrono::January, std::chrono::day{1}}};
  bool timestamps = false;
};

TimeState& Time() {
  static auto* state = Vek::NewForTheRun<TimeState>();
  return *state;
}

std::atomic<AnalysisLog*> g_analysisLog{nullptr};

long long FloorDiv(long long value, long long divisor) {
  const long long quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

std::string TimestampPrefix() {
  TimeState& time = Time();
  std::lock_guard lock(time.lock);
  if (!time.timestamps) return {};
  return FormatAnalysisTimestamp(time.reference, LogCounterSeconds());
}

std::wstring LocalTimeText(const std::tm& local) {
  wchar_t text[64];
  std::swprintf(text, 64, L"%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::tm LocalTimeNow(double& subsecond) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  subsecond = std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds)).count();
  if (subsecond < 0) subsecond = 0;
  std::tm local{};
  OS::LocalTime(seconds, local);
  return local;
}

int TimeOfDayAt(const AnalysisTimeReference& reference, double counterNow) {
  return static_cast<int>(std::floor(reference.secondOfDay + (counterNow - reference.counter)));
}

}  // namespace

AnalysisTimeReference CurrentTimeReference() {
  double subsecond = 0;
  const std::tm local = LocalTimeNow(subsecond);
  AnalysisTimeReference reference;
  reference.date = std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                               std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                               std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
  reference.secondOfDay = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + subsecond;
  reference.counter = LogCounterSeconds();
  return reference;
}

std::string FormatAnalysisTimestamp(const AnalysisTimeReference& reference, double counterNow) {
  using namespace std::chrono;
  const double timeOfDay = reference.secondOfDay + (counterNow - reference.counter);
  const long long hundredths = static_cast<long long>(std::floor(timeOfDay * 100.0));
  const long long dayOffset = FloorDiv(hundredths, kHundredthsPerDay);
  long long rest = hundredths - dayOffset * kHundredthsPerDay;
  const year_month_day base =
      reference.date.ok() ? reference.date : year_month_day{year{1970}, January, day{1}};
  const year_month_day date{sys_days{base} + days{dayOffset}};
  const int hour = static_cast<int>(rest / 360000);
  rest %= 360000;
  const int minute = static_cast<int>(rest / 6000);
  rest %= 6000;
  char text[48];
  std::snprintf(text, sizeof text, "%02d.%02d.%02d  %02d:%02d:%02d.%02d| ",
                ((static_cast<int>(date.year()) % 100) + 100) % 100, static_cast<int>(unsigned(date.month())),
                static_cast<int>(unsigned(date.day())), hour, minute, static_cast<int>(rest / 100),
                static_cast<int>(rest % 100));
  return text;
}

AnalysisLog::AnalysisLog(std::wstring path) : m_path(std::move(path)) {}

AnalysisLog::~AnalysisLog() {
  Flush();
  std::lock_guard lock(m_mutex);
  if (m_file != nullptr) OS::Current().CloseStream(m_file);
}

AnalysisLog* AnalysisLog::Instance() {
  return g_analysisLog;
}

void AnalysisLog::Write(const std::wstring& key, const std::wstring& value) {
  WriteEntry(NolkUtil::ToNarrow(key) + ": " + NolkUtil::ToNarrow(value) + "\r\n");
}

void AnalysisLog::WriteRaw(const char* text, std::size_t length) {
  if (text == nullptr) return;
  WriteEntry(std::string(text, length));
}

void AnalysisLog::SetFlushEachLine(bool flush) {
  std::lock_guard lock(m_mutex);
  m_flushEachLine = flush;
  if (flush) Flush();
}

void AnalysisLog::Flush() {
  std::lock_guard lock(m_mutex);
  if (!m_enabled || m_file == nullptr) return;
  WriteSuppressedSummary();
  OS::Current().FlushStream(m_file, false);
}

void AnalysisLog::SetEnabled(bool enabled) {
  std::lock_guard lock(m_mutex);
  m_enabled = enabled;
}

// Repeats are recognised by the entry text alone: the timestamp prefix would
// make every repeat look new.
void AnalysisLog::WriteEntry(std::string text) {
  std::lock_guard lock(m_mutex);
  if (!m_enabled || !EnsureOpen()) return;
  if (!m_flushEachLine && m_hasPreviousEntry && text == m_previousEntry) {
    ++m_suppressedCount;
    return;
  }
  WriteSuppressedSummary();
  WriteLine(text);
  if (m_flushEachLine) OS::Current().FlushStream(m_file, false);
  m_previousEntry = std::move(text);
  m_hasPreviousEntry = true;
}

bool AnalysisLog::EnsureOpen() {
  if (m_file == nullptr) m_file = OS::Current().OpenStream(m_path, OS::OpenMode::CreateTruncate);
  return m_file != nullptr;
}

void AnalysisLog::WriteSuppressedSummary() {
  if (m_suppressedCount == 0) return;
  char summary[48];
  std::snprintf(summary, sizeof summary, "[%d lines suppressed]\r\n", m_suppressedCount);
  m_suppressedCount = 0;
  WriteLine(summary);
}

void AnalysisLog::WriteLine(const std::string& text) {
  const std::string line = TimestampPrefix() + text;
  OS::Current().WriteStream(m_file, line.data(), line.size());
}

void StartAnalysisLog(const std::wstring& path, bool timestamps) {
  StopAnalysisLog();
  {
    TimeState& time = Time();
    std::lock_guard lock(time.lock);
    time.reference = CurrentTimeReference();
    time.timestamps = timestamps;
  }
  double subsecond = 0;
  const std::wstring localTime = LocalTimeText(LocalTimeNow(subsecond));
  auto* analysisLog = new AnalysisLog(path);
  {
    // The system log reads the instance under its critical section.
    std::lock_guard lock(SystemLogCriticalSection());
    g_analysisLog = analysisLog;
  }
  analysisLog->Write(L"Local time", localTime);
  analysisLog->Write(L"AnalysisLog: Build Version", kBuildVersion);
}

void StopAnalysisLog() {
  AnalysisLog* analysisLog = nullptr;
  {
    std::lock_guard lock(SystemLogCriticalSection());
    analysisLog = g_analysisLog.exchange(nullptr);
  }
  delete analysisLog;
}

void ResyncAnalysisTime(const AnalysisTimeReference& reference, double counterNow) {
  AnalysisTimeReference previous;
  {
    TimeState& time = Time();
    std::lock_guard lock(time.lock);
    previous = time.reference;
  }
  const int oldReference = static_cast<int>(std::floor(previous.secondOfDay));
  const int newReference = static_cast<int>(std::floor(reference.secondOfDay));
  const int oldTime = TimeOfDayAt(previous, counterNow);
  const int newTime = TimeOfDayAt(reference, counterNow);
  const bool unchanged = oldReference == newReference && std::abs(oldTime - newTime) <= 1;
  if (!unchanged) {
    std::lock_guard lock(SystemLogCriticalSection());  // keeps the instance alive
    if (AnalysisLog* analysisLog = AnalysisLog::Instance()) {
      wchar_t text[96];
      std::swprintf(text, 96, L"%d:%d -> %d:%d", oldReference, oldTime, newReference, newTime);
      analysisLog->Write(L"Time resync", text);
    }
  }
  TimeState& time = Time();
  std::lock_guard lock(time.lock);
  time.reference = reference;
}

}  // namespace Vek
