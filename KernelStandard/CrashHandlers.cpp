// The process-wide crash handlers: the fatal-signal path, the exit trap,
// the terminate path, the unhandled-fault dump and its file name, and the
// call-stack logger.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>

#include "KernelStandard/AnalysisLog.h"
#include "KernelStandard/CrashReport.h"
#include "KernelStandard/CrashReportState.h"
#include "KernelStandard/Log.h"
#include "KernelStandard/platform/FaultCodes.h"
#include "KernelStandard/platform/LocalTime.h"

namespace Vek {
namespace {

constexpr char kDumpFormat[] = "Ombrix-%d.dmp";
constexpr int kDumpBuild = 40040;
constexpr char kRemoteDumpFormat[] = "nolk-remote-v%s.dmp";
constexpr char kRemoteDumpBuild[] = "35673";
constexpr int kMaxFrames = 64;
constexpr std::size_t kCallStackTextLimit = 511;

CrashReportState g_state;
std::atomic<bool> g_exitTrapArmed{false};
std::atomic<bool> g_miniDumpWritten{false};
std::atomic<int> g_consoleMode{0};
std::once_flag g_atExitRegistered;

void CopyText(char* out, std::size_t capacity, const std::string& text) {
  std::snprintf(out, capacity, "%s", text.c_str());
}

void FixProgramNames(const std::string& path) {
  CopyText(g_state.programPath, sizeof(g_state.programPath), path);
  const std::size_t slash = path.find_last_of(OS::kNativeSeparators);
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  CopyText(g_state.programFolder, sizeof(g_state.programFolder), folder.empty() ? "/" : folder);
  CopyText(g_state.programFileName, sizeof(g_state.programFileName), fileName);
  const std::size_t dot = fileName.find_last_of('.');
  CopyText(g_state.programName, sizeof(g_state.programName),
           dot == std::string::npos ? fileName : fileName.substr(0, dot));
}

std::string TemporaryFolder() {
  std::string folder;
  if (!OS::Current().GetEnvironment("TEMP", folder) || folder.empty()) {
    folder = OS::ToUtf8(OS::Current().SystemTempFolder());
  }
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Faults that reached the crash path, and whether one of them is in it now.
std::atomic<int> g_faultsArrived{0};
std::atomic<bool> g_crashPathBusy{false};

void OnCrashSignal(const OS::FatalFault& fault) {
  EnterCrashPath();
  // A worker's fault gets the exception report. When that was handled and
  // another thread has faulted meanwhile, that thread's fault goes on to
  // the unhandled-fault dump and ends the process. Otherwise the process
  // cannot safely go on with a broken thread, and this fault goes on to
  // the dump itself.
  const bool worker = fault.threadId != OS::Current().MainThreadId();
  if (worker && WriteExceptionReport(fault) == 1) HandOverIfAnotherThreadFaulted();
  WriteMiniDump(fault);
  OS::Current().ExitImmediately(kCrashExitCode);
}

void CheckExitTrap() {
  if (g_exitTrapArmed.load()) OS::RaiseAccessViolation();  // an unplanned exit: leave a dump
}

void OnTerminate() {
  const std::exception_ptr current = std::current_exception();
  const char* what = "no active exception";
  try {
    if (current) std::rethrow_exception(current);
  } catch (const std::exception& exception) {
    what = exception.what();
  } catch (...) {
    what = "unknown exception";
  }
  LogPrint("Terminate handler> %s", what);
  std::abort();  // SIGABRT reaches the crash path
}

// Console control events: in console mode 1 the program ends as the event
// would end it, quietly (the trap is disarmed first); otherwise the close
// request is noted and the event counts as handled.
std::atomic<bool> g_consoleCloseRequested{false};

bool OnConsoleControl(int controlType) {
  LogPrint("Console Window event handler called for CtrlType=%d", controlType);
  if (g_consoleMode.load() == 1) {
    DisarmExitTrap();
    return false;
  }
  g_consoleCloseRequested.store(true);
  return true;
}

}  // namespace

CrashReportState& CrashState() {
  return g_state;
}

const char* FileNamePart(const char* path) {
  const char* name = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (std::strchr(OS::kNativeSeparators, *c) != nullptr) name = c + 1;
  }
  return name;
}

std::int64_t CurrentUtcSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

int CreateCrashFile(const char* path) {
  return OS::Current().CreateCrashFile(path);
}

void WriteToFile(int file, const char* data, std::size_t length) {
  OS::Current().AppendCrashFile(file, data, length);
}

void CloseCrashFile(int file) {
  OS::Current().CloseCrashFile(file);
}

void PrepareCrashReports() {
  FixProgramNames(OS::ToUtf8(OS::Current().ExecutablePath()));
  std::string user;
  if (OS::Current().GetEnvironment("USER", user) && !user.empty()) {
    CopyText(g_state.userName, sizeof(g_state.userName), user);
  }
  CopyText(g_state.tempFolder, sizeof(g_state.tempFolder), TemporaryFolder());
  const std::time_t now = std::time(nullptr);
  g_state.zoneOffsetSeconds = OS::LocalZoneOffsetSeconds(now);
  g_state.debuggerAttached = OS::Current().DebuggerAttached();
}

void EnterCrashPath() {
  g_faultsArrived.fetch_add(1);
  // The unwrapped backend: no locks on this path.
  while (g_crashPathBusy.exchange(true)) OS::Native().Sleep(1);
}

void HandOverIfAnotherThreadFaulted() {
  if (g_faultsArrived.load() < 2) return;
  g_crashPathBusy.store(false);
  for (;;) OS::Native().Sleep(1000);
}

void InstallCrashHandlers(int consoleMode) {
  PrepareCrashReports();
  g_consoleMode.store(consoleMode);
  g_exitTrapArmed.store(true);
  OS::Current().InstallFatalSignalHandler(OnCrashSignal);
  std::call_once(g_atExitRegistered, [] { std::atexit(CheckExitTrap); });
  std::set_terminate(OnTerminate);
  OS::Current().InstallConsoleControlHandler(OnConsoleControl);
}

bool ConsoleCloseRequested() {
  return g_consoleCloseRequested.load();
}

bool WriteRemoteMiniDump(std::uint32_t processId, char* pathOut, std::size_t capacity) {
  char name[64];
  std::snprintf(name, sizeof(name), kRemoteDumpFormat, kRemoteDumpBuild);
  char path[kCrashPathCapacity];
  if (!MakeDumpFilePath(name, nullptr, path, sizeof(path))) return false;
  if (pathOut != nullptr && capacity > 0) std::snprintf(pathOut, capacity, "%s", path);
  const bool written = OS::Current().WriteProcessMinidump(processId, path);
  LogPrint("CreateRemoteMiniDump: %s (process %u)%s", path, processId, written ? "" : " failed");
  return written;
}

void DisarmExitTrap() {
  g_exitTrapArmed.store(false);
  g_consoleMode.store(1);
}

bool ExitTrapArmed() {
  return g_exitTrapArmed.load();
}

int WriteMiniDump(const OS::FatalFault& fault) {
  if (g_miniDumpWritten.exchange(true)) return 1;
  char name[64];
  std::snprintf(name, sizeof(name), kDumpFormat, kDumpBuild);
  char path[kCrashPathCapacity];
  const bool named = MakeDumpFilePath(name, nullptr, path, sizeof(path));
  if (named) OS::Current().WriteMinidump(path, fault);
  // The dump is on disk; the log lines after it are best effort.
  std::lock_guard<std::recursive_mutex> lock(SystemLogCriticalSection());
  if (AnalysisLog* analysisLog = AnalysisLog::Instance()) analysisLog->SetFlushEachLine(true);
  LogPrint("CreateMiniDump: %s", named ? path : name);
  LogCallStack(true);
  return 1;
}

bool MakeDumpFilePath(const char* fileName, const char* subfolder, char* out, std::size_t capacity) {
  // The log folder and the default subfolder are empty in this program:
  // dumps go to the current folder.
  char folder[kCrashPathCapacity] = "";
  if (subfolder != nullptr && subfolder[0] != '\0') {
    std::snprintf(folder, sizeof(folder), "%s", subfolder);
    for (char* c = folder; *c != '\0'; ++c) {
      if (*c == '\\') *c = '/';
    }
    const std::size_t length = std::strlen(folder);
    if (folder[length - 1] != '/' && length + 1 < sizeof(folder)) std::strcat(folder, "/");
  }
  const char* dot = std::strrchr(fileName, '.');
  const int stemLength =
      dot != nullptr ? static_cast<int>(dot - fileName) : static_cast<int>(std::strlen(fileName));
  const char* extension = dot != nullptr ? dot : "";
  for (int copy = 1; copy < 100000; ++copy) {
    const int length = copy == 1 ? std::snprintf(out, capacity, "%s%s", folder, fileName)
                                 : std::snprintf(out, capacity, "%s%.*s_%d%s", folder, stemLength, fileName,
                                                 copy, extension);
    if (length < 0 || static_cast<std::size_t>(length) >= capacity) return false;
    if (!OS::Current().NativePathExists(out)) return true;
  }
  return false;
}

void LogCallStack(bool withSymbols) {
  std::lock_guard<std::recursive_mutex> lock(SystemLogCriticalSection());
  std::uintptr_t frames[kMaxFrames];
  const std::size_t count = OS::Current().CaptureCallStack(frames, kMaxFrames);
  char addresses[kCallStackTextLimit + 1] = "";
  std::size_t used = 0;
  for (std::size_t i = 0; i < count && used < kCallStackTextLimit; ++i) {
    const int written = std::snprintf(addresses + used, sizeof(addresses) - used, "%llx ",
                                      static_cast<unsigned long long>(frames[i]));
    if (written < 0) break;
    used += static_cast<std::size_t>(written);
  }
  addresses[kCallStackTextLimit] = '\0';
  LogPrint("callstack: %s", addresses);
  if (!withSymbols) return;
  // Symbol handling is set up for this call and released after it, so the
  // modules loaded since the last call are known too.
  const std::unique_ptr<OS::SymbolLookup> symbols = OS::Current().OpenSymbolLookup();
  for (std::size_t i = 0; i < count; ++i) {
    OS::CodeLocation location;
    if (symbols) symbols->Describe(frames[i], true, location);
    const auto text = [](const char* value) { return value[0] != '\0' ? value : "<unknown>"; };
    LogPrint("  %s %s [%s:%d]", text(location.module), text(location.symbol), text(location.file),
             location.file[0] != '\0' ? location.line : -1);
  }
}

const char* ExceptionDescription(std::uint32_t code) {
  struct Entry {
    std::uint32_t code;
    const char* text;
  };
  static const Entry kDescriptions[] = {
      {0x40010005, "a Control-C"},
      {0x40010008, "a Control-Break"},
      {0x80000002, "a Datatype Misalignment"},
      {0x80000003, "a Breakpoint"},
      {0xC0000005, "an Access Violation"},
      {0xC0000006, "an In Page Error"},
      {0xC0000017, "a No Memory"},
      {0xC000001D, "an Illegal Instruction"},
      {0xC0000025, "a Noncontinuable Exception"},
      {0xC0000026, "an Invalid Disposition"},
      {0xC000008C, "a Array Bounds Exceeded"},
      {0xC000008D, "a Float Denormal Operand"},
      {0xC000008E, "a Float Divide by Zero"},
      {0xC000008F, "a Float Inexact Result"},
      {0xC0000090, "a Float Invalid Operation"},
      {0xC0000091, "a Float Overflow"},
      {0xC0000092, "a Float Stack Check"},
      {0xC0000093, "a Float Underflow"},
      {0xC0000094, "an Integer Divide by Zero"},
      {0xC0000095, "an Integer Overflow"},
      {0xC0000096, "a Privileged Instruction"},
      {0xC00000FD, "a Stack Overflow"},
      {0xC0000142, "a DLL Initialization Failed"},
      {0xE06D7363, "a Microsoft C++ Exception"},
  };
  for (const Entry& entry : kDescriptions) {
    if (entry.code == code) return entry.text;
  }
  return "an Unknown exception type";
}

std::uint32_t ExceptionCodeOf(const OS::FatalFault& fault) {
  return OS::FaultExceptionCode(fault);
}

void FormatReportTime(std::int64_t utcSeconds, std::int64_t zoneOffsetSeconds, char* out,
                      std::size_t capacity) {
  // Civil date from a day count (no time-zone database: signal-safe).
  const std::int64_t local = utcSeconds + zoneOffsetSeconds;
  std::int64_t days = local / 86400;
  std::int64_t secondsOfDay = local % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  const int seconds = static_cast<int>(secondsOfDay % 60) & ~1;
  std::snprintf(out, capacity, "%d/%d/%d %02d:%02d:%02d", month, day, year,
                static_cast<int>(secondsOfDay / 3600), static_cast<int>(secondsOfDay / 60 % 60), seconds);
}

}  // namespace Vek
