#include "KernelStandard/FatalErrorGate.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "KernelStandard/LogChannel.h"
#include "KernelStandard/alloc/ProcessLifetime.h"

namespace Vek {
namespace {

constexpr char kVersion[] = "RRRRR.RR";
constexpr char kBuildMajor[] = "1234.5";
constexpr char kBuildMinor[] = "QQQQQ";
constexpr char kBrokenWindowText[] = "An error occurred trying to display the fatal error window! (0)";
constexpr char kBrokenWindowCaption[] = "Fatal Error";

std::atomic<bool> g_fatalErrorGate{false};
// Clear while the window is up on some thread, and for good once the gate
// is set.
std::atomic<bool> g_windowAllowed{true};
std::atomic<FatalErrorWindow> g_fatalErrorWindow{nullptr};

void PrintToStandardError(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}
std::atomic<FatalErrorMessage> g_message{PrintToStandardError};

std::mutex& WindowSection() {
  static auto* section = Vek::NewForTheRun<std::mutex>();
  return *section;
}

void AddSplit(std::vector<std::string>& lines, const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

std::string Format(const char* format, const char* text) {
  char line[512];
  std::snprintf(line, sizeof(line), format, text);
  return line;
}

void LogLines(const std::vector<std::string>& lines) {
  LogChannel& channel = FindLogChannel("ExceptionHandler");
  if (channel.GetThreshold() < LogChannel::LEVEL_ERROR || channel.GetDestinations() == 0) return;
  for (const std::string& line : lines) {
    channel.SetLevel(LogChannel::LEVEL_ERROR);
    channel.Print("%s", line.c_str());
  }
}

// The console form: the window's lines on standard error. Nobody can
// answer there, so the program goes on as when a window cannot be shown.
int ShowOnConsole(const Exception& exception) {
  std::fprintf(stderr, "Fatal error:\n");
  for (const std::string& line : FatalErrorLines(exception)) std::fprintf(stderr, "  %s\n", line.c_str());
  std::fflush(stderr);
  return kFatalErrorNotShown;
}

}  // namespace

bool FatalErrorGateIsSet() {
  return g_fatalErrorGate.load();
}

void SetFatalErrorGate() {
  g_fatalErrorGate.store(true);
}

FatalErrorWindow SetFatalErrorWindow(FatalErrorWindow window) {
  return g_fatalErrorWindow.exchange(window);
}

FatalErrorMessage SetFatalErrorMessage(FatalErrorMessage message) {
  return g_message.exchange(message != nullptr ? message : PrintToStandardError);
}

std::vector<std::string> FatalErrorLines(const Exception& exception) {
  std::vector<std::string> lines;
  const char* file = exception.SourceFile();
  if (file != nullptr && file[0] != '\0') AddSplit(lines, Format("File: %s\r\n", file));
  if (exception.SourceLine() > 0) {
    AddSplit(lines, Format("Line: %s\r\n", std::to_string(exception.SourceLine()).c_str()));
  }
  AddSplit(lines, Format("Class: %s\r\n", exception.GetClassName()));
  AddSplit(lines, std::string("Reason: ") + exception.GetReason() + "\r\n");
  char version[128];
  std::snprintf(version, sizeof(version), "Version: Vek v%s Build %s.%s\r\n", kVersion, kBuildMajor,
                kBuildMinor);
  AddSplit(lines, version);
  if (exception.GetCallStack()[0] != '\0') AddSplit(lines, exception.GetCallStack());
  return lines;
}

int ShowFatalError(const Exception& exception) {
  bool allowed = true;
  if (!g_windowAllowed.compare_exchange_strong(allowed, false)) return kFatalErrorQuit;
  std::lock_guard<std::mutex> section(WindowSection());
  if (FatalErrorGateIsSet()) return kFatalErrorQuit;
  LogLines(FatalErrorLines(exception));
  int result;
  try {
    const FatalErrorWindow window = g_fatalErrorWindow.load();
    result = window != nullptr ? window(exception) : ShowOnConsole(exception);
  } catch (const FatalErrorWindowBroken&) {
    g_message.load()(kBrokenWindowText, kBrokenWindowCaption);
    result = kFatalErrorQuit;
  }
  KernelLogShutdown();
  if (result == kFatalErrorQuit) SetFatalErrorGate();
  if (!FatalErrorGateIsSet()) g_windowAllowed.store(true);
  return result;
}

}  // namespace Vek
