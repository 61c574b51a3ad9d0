#include "app/core/RepairRun.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <utility>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "app/core/Messaging.h"
#include "app/core/PatchJob.h"
#include "app/core/ProgressDisplay.h"
#include "patch/PatchSettings.h"
#include "patch/PatchingFlag.h"
#include "repair/NolkAgentClientTask.h"
#include "repair/RepairServerAddress.h"

namespace NolkPatch {
namespace {

constexpr int kGaugeRange = 1000;
constexpr int kPollIntervalMs = 1000;
// The poll's wait is cut into slices, so a finished task or a Cancel is
// noticed at once instead of at the end of the second.
constexpr int kWaitSliceMs = 20;
constexpr int kLastStage = 4;

std::mutex g_displayMutex;
RepairSegmentDisplay g_segmentDisplay;

void ShowSegments(const NolkAgentClientTask& task) {
  std::lock_guard lock(g_displayMutex);
  if (g_segmentDisplay) g_segmentDisplay(task.GetReceivedCount(), task.GetTotalCount());
}

std::chrono::milliseconds InactivityLimit() {
  std::string value;
  if (OS::Current().GetEnvironment(kRepairInactivityVariable, value) && !value.empty()) {
    try {
      const long long milliseconds = std::stoll(value);
      if (milliseconds >= 0) return std::chrono::milliseconds(milliseconds);
    } catch (const std::exception&) {
    }
  }
  return NolkAgentClientTask::kDefaultInactivityLimit;
}

bool FindServer(SocketAddress& address) {
  RepairServerName name;
  return ConfiguredRepairServer(name) && ResolveRepairServer(name, address);
}

void Configure(NolkAgentClientTask& task, const SocketAddress& address) {
  const std::wstring& root = PatchSettings::Get().InstallPath;
  task.SetRootFolder(root);
  task.SetSummaryFile(NolkUtil::JoinPath(root, kSummaryFileName));
  task.SetServerAddress(address);
  task.SetExclusions({NolkUtil::JoinPath(root, L"unins000.exe")});
  task.SetInactivityLimit(InactivityLimit());
}

void WaitForNextPoll(const NolkAgentClientTask& task, PatchRunContext& context) {
  for (int waited = 0; waited < kPollIntervalMs; waited += kWaitSliceMs) {
    if (!task.IsBusy() || context.cancelRequested()) return;
    OS::Current().Sleep(kWaitSliceMs);
  }
}

void ShowProgress(const NolkAgentClientTask& task, int announced) {
  if (announced <= kLastStage) return;
  ShowProgressValue(static_cast<int>(task.GetProgress() * kGaugeRange));
  ShowSegments(task);
}

std::wstring SegmentLine(const NolkAgentClientTask& task) {
  wchar_t line[96];
  std::swprintf(line, sizeof line / sizeof line[0], L"(%u / %u segments updated.)", task.GetReceivedCount(),
                task.GetTotalCount());
  return line;
}

std::wstring ErrorLine(const NolkAgentClientTask& task) {
  wchar_t line[96];
  std::swprintf(line, sizeof line / sizeof line[0], L"(Error %d in stage %d)", task.GetResult(),
                task.GetState());
  return line;
}

bool CancelRequested(PatchRunContext& context) {
  return context.cancelRequested && context.cancelRequested();
}

}  // namespace

std::wstring RepairFailureText(int state) {
  switch (state) {
    case NolkAgentClientTask::STATE_SCANNING:
      return L"Error while scanning local files.";
    case NolkAgentClientTask::STATE_CONNECTING:
    case NolkAgentClientTask::STATE_SENDING_SUMMARY:
      return L"Unable to connect to patch servers.";
    case NolkAgentClientTask::STATE_RECEIVING:
      return L"Error occurred while repairing files.";
    default:
      return L"Internal error occurred.";
  }
}

void SetRepairSegmentDisplay(RepairSegmentDisplay display) {
  std::lock_guard lock(g_displayMutex);
  g_segmentDisplay = std::move(display);
}

bool RunRepair(PatchRunContext& context) {
  SocketAddress address;
  if (!FindServer(address)) {
    PostPatchMessage(2, L"Unable to contact repair server; check your network connection.");
    return false;
  }
  NolkAgentClientTask task;
  Configure(task, address);
  task.Start();
  int announced = 0;
  ShowProgressRange(kGaugeRange);
  while (task.IsBusy() && !CancelRequested(context)) {
    AdvanceRepairStage(announced, task.GetState());
    ShowProgress(task, announced);
    WaitForNextPoll(task, context);
  }
  const bool cancelled = CancelRequested(context);
  // A cancelled task is stopped before its state is reported: its thread
  // ends promptly once the connection is closed.
  if (cancelled) task.Cancel();
  AdvanceRepairStage(announced, task.GetState());
  if (announced > kLastStage) {
    ShowProgress(task, announced);
    PostPatchMessage(0, SegmentLine(task));
  }
  if (task.Succeeded()) {
    ClearPatchingFlag();
    ShowProgressValue(kGaugeRange);
    return true;
  }
  if (!cancelled) {
    PostPatchMessage(2, RepairFailureText(task.GetState()));
    PostPatchMessage(0, ErrorLine(task));
  }
  return false;
}

}  // namespace NolkPatch
