#include "app/core/FatalError.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "KernelStandard/CrashReport.h"
#include "KernelStandard/platform/LocalTime.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr char kDumpNameFormat[] = "%s-v%s-%i.%02i.%02i-%02i.%02i.%02i.dmp";
constexpr char kProgramName[] = "patcher";
constexpr char kBuildNumber[] = "35673";
constexpr std::size_t kDumpNameCapacity = 257;  // 256 characters and the terminator
constexpr int kFatalExitCode = -1 & 0xff;

char g_dumpName[kDumpNameCapacity] = {};
std::atomic<bool> g_dumpWritten{false};
MessageBoxFunction g_messageBox;

void ShowFatalMessage() {
  if (g_messageBox) g_messageBox(L"Unhandled Exception", L"Fatal Error");
}

void OnFatalSignal(const OS::FatalFault& fault) {
  HandleFatalFault(fault);
}

}  // namespace

std::string CrashDumpFileName(const std::tm& localTime) {
  char name[kDumpNameCapacity];
  std::snprintf(name, sizeof(name), kDumpNameFormat, kProgramName, kBuildNumber, localTime.tm_year + 1900,
                localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                localTime.tm_sec);
  return name;
}

bool InstallFatalErrorHandling(MessageBoxFunction messageBox) {
  // The kernel's handlers first: the exit trap, the terminate path, the
  // console control events and the unhandled-fault dump, which stays the
  // fault handler under a debugger.
  Vek::InstallCrashHandlers(1);
  if (OS::Current().DebuggerAttached()) return false;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  OS::LocalTime(now, local);
  const std::string name = CrashDumpFileName(local);
  std::snprintf(g_dumpName, sizeof(g_dumpName), "%s", name.c_str());
  g_messageBox = std::move(messageBox);
  Vek::PrepareCrashReports();
  return OS::Current().InstallFatalSignalHandler(OnFatalSignal);
}

void DisarmFatalErrorHandling() {
  Vek::DisarmExitTrap();  // a planned exit leaves no dump
  OS::Current().RestoreFatalSignalDefaults();
  g_messageBox = nullptr;
}

void HandleFatalFault(const OS::FatalFault& fault) {
  // A fault in a worker thread also leaves the exception report and starts
  // the crash-report program, as the kernel's thread guard does.
  Vek::EnterCrashPath();
  if (fault.context != nullptr && fault.threadId != OS::Current().ProcessId() &&
      Vek::WriteExceptionReport(fault) == 1) {
    Vek::HandOverIfAnotherThreadFaulted();
  }
  if (!g_dumpWritten.exchange(true) && g_dumpName[0] != '\0') OS::Current().WriteMinidump(g_dumpName, fault);
  ShowFatalMessage();
  OS::Current().ExitImmediately(kFatalExitCode);
  std::_Exit(kFatalExitCode);  // not reached: the platform ends the process
}

void HandleFatalFault(int signalNumber, std::uintptr_t faultAddress) {
  OS::FatalFault fault;
  fault.signalNumber = signalNumber;
  fault.address = faultAddress;
  fault.threadId = OS::Current().ThreadId();
  HandleFatalFault(fault);
}

}  // namespace NolkPatch
