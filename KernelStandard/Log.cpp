// The system log: formatting, the four destinations and the observer
// registry.
#include "KernelStandard/Log.h"

#include <cstdio>
#include <cwchar>
#include <set>

#include "KernelStandard/AnalysisLog.h"
#include "KernelStandard/Assert.h"
#include "KernelStandard/ConsoleRedirect.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/alloc/ProcessLifetime.h"
#include "KernelStandard/platform/Platform.h"

// The observer registry is initialised before the ordinary static objects of
// every other file, so an observer registered (or a line logged) by a static
// initialiser elsewhere never meets an unconstructed set. Compilers without
// the attribute fall back to the usual order.
#if defined(__GNUC__)
#define KORVEL_EARLY_INIT __attribute__((init_priority(101)))
#else
#define KORVEL_EARLY_INIT
#endif

namespace {

constexpr std::size_t kLogBufferSize = 4096;

// Whether standard output takes UTF-16 text. Nothing sets it, so standard
// output receives the 8-bit form of every entry.
constexpr bool kConsoleTakesWideText = false;

KORVEL_EARLY_INIT std::set<NolkSystemLogObserver*> g_systemLogObservers;
bool g_bIsIterating = false;

std::recursive_mutex& ObserverRegistryLock() {
  // Never destroyed: logging must keep working while static objects are
  // torn down at exit.
  static auto* lock = Vek::NewForTheRun<std::recursive_mutex>();
  return *lock;
}

// Both locks in the order LogOutput takes them, for the registry changes: a
// failed assertion inside them then logs without inverting the order.
class RegistryChange {
 public:
  RegistryChange() : m_log(Vek::SystemLogCriticalSection()), m_registry(ObserverRegistryLock()) {}

 private:
  std::lock_guard<std::recursive_mutex> m_log;
  std::lock_guard<std::recursive_mutex> m_registry;
};

// Clears the iteration flag however the notification loop is left, so an
// observer that throws does not silence all later notifications.
class IterationScope {
 public:
  IterationScope() { g_bIsIterating = true; }
  ~IterationScope() { g_bIsIterating = false; }
  IterationScope(const IterationScope&) = delete;
  IterationScope& operator=(const IterationScope&) = delete;
};

void NotifyObservers(const std::wstring& text) {
  std::lock_guard lock(ObserverRegistryLock());
  // An observer that logs from inside OnLogText gets here again on the same
  // thread; that nested entry is not passed to anyone.
  if (g_bIsIterating) return;
  IterationScope iterating;
  for (NolkSystemLogObserver* observer : g_systemLogObservers) observer->OnLogText(text);
}

void WriteToStdout(const std::string& text, const std::wstring& wide) {
  Vek::ConsoleRedirect::Instance();  // the redirection happens before the first write
  if (kConsoleTakesWideText) {
    std::u16string utf16(wide.begin(), wide.end());
    OS::Current().WriteStdout(utf16.data(), utf16.size() * sizeof(char16_t));
  } else {
    OS::Current().WriteStdout(text.data(), text.size());
  }
}

void WriteToAnalysisLog(const std::string& text) {
  Vek::AnalysisLog* analysisLog = Vek::AnalysisLog::Instance();
  if (analysisLog == nullptr) return;
  const std::string line = text + "\r\n";
  analysisLog->WriteRaw(line.data(), line.size());
}

std::string FormatNarrow(const char* format, va_list args) {
  if (format == nullptr) return {};
  char buffer[kLogBufferSize];
  if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0) buffer[0] = '\0';
  return buffer;
}

std::wstring FormatWide(const wchar_t* format, va_list args) {
  if (format == nullptr) return {};
  // Zero-filled so that a formatting error leaves a terminated prefix; on
  // overflow the C library stops without a terminator, hence the last one.
  wchar_t buffer[kLogBufferSize] = {};
  std::vswprintf(buffer, kLogBufferSize, format, args);
  buffer[kLogBufferSize - 1] = L'\0';
  return buffer;
}

}  // namespace

namespace Vek {

std::recursive_mutex& SystemLogCriticalSection() {
  static auto* lock = Vek::NewForTheRun<std::recursive_mutex>();
  return *lock;
}

}  // namespace Vek

void LogOutput(unsigned destinations, const std::string& text) {
  std::lock_guard lock(Vek::SystemLogCriticalSection());
  if (destinations & LOG_ANALYSIS) WriteToAnalysisLog(text);
  const std::string line = text + "\n";
  const std::wstring wide = NolkUtil::ToWide(line);
  if (destinations & LOG_DEBUGGER) OS::Current().DebugOutput(line);
  if (destinations & LOG_STDOUT) WriteToStdout(line, wide);
  if (destinations & LOG_OBSERVERS) NotifyObservers(wide);
}

void LogPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatNarrow(format, args);
  va_end(args);
  LogOutput(LOG_ALL, text);
}

void LogPrintTo(unsigned destinations, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatNarrow(format, args);
  va_end(args);
  LogOutput(destinations, text);
}

void LogPrintW(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatWide(format, args);
  va_end(args);
  LogOutput(LOG_ALL, NolkUtil::ToNarrow(text));
}

void LogPrintToW(unsigned destinations, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatWide(format, args);
  va_end(args);
  LogOutput(destinations, NolkUtil::ToNarrow(text));
}

void RegisterSystemLogObserver(NolkSystemLogObserver* observer) {
  RegistryChange lock;
  VEK_ASSERT(!g_bIsIterating);
  if (observer != nullptr) g_systemLogObservers.insert(observer);
}

void UnregisterSystemLogObserver(NolkSystemLogObserver* observer) {
  RegistryChange lock;
  VEK_ASSERT(!g_bIsIterating);
  g_systemLogObservers.erase(observer);
}

NolkSystemLogObserver::~NolkSystemLogObserver() {
  RegistryChange lock;
  VEK_ASSERT(!g_bIsIterating);
  if (g_systemLogObservers.find(this) == g_systemLogObservers.end()) return;
  // Still registered: take it out before the assertion is logged, or the
  // assertion message would be handed to this half-destroyed object.
  g_systemLogObservers.erase(this);
  Vek::AssertFailed("g_systemLogObservers.find(this) == g_systemLogObservers.end()");
}
