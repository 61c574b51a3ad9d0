#include "app/core/StandardRunDrivers.h"

#include <mutex>
#include <utility>

#include "app/core/ProgressDisplay.h"
#include "app/core/RepairRun.h"
#include "app/core/RunDrivers.h"
#include "patch/AssetDatabase.h"
#include "patch/RunDownload.h"
#include "patch/RunDriver.h"

namespace NolkPatch {
namespace {

// A front end with nothing to show and no one to ask.
class SilentLocator final : public InstallLocatorFrontEnd {
 public:
  void EnableBrowse() override {}
  void EnableApply() override {}
  std::wstring ChooseGameProgram() override { return std::wstring(); }
};

void ReleaseDatabase() {
  ReleaseExclusiveHold();
  DisconnectDatabaseIpc();
}

constexpr int kDownloadGaugeRange = 10000;

std::mutex g_detailLock;
std::function<void(std::uint64_t, std::uint64_t)> g_detailHook;

// The window's Cancel as the internet client asks for it.
class PatchDownloadCallback final : public DownloadURLCallback {
 public:
  explicit PatchDownloadCallback(const std::function<bool()>& cancelRequested)
      : m_cancelRequested(cancelRequested) {}
  bool StopRequested() override { return m_cancelRequested && m_cancelRequested(); }

 private:
  const std::function<bool()>& m_cancelRequested;
};

void ShowDownloadProgress(std::uint64_t received, std::uint64_t expected) {
  ShowProgressRange(kDownloadGaugeRange);
  const std::uint64_t shown = received >= expected ? expected : received;
  ShowProgressValue(expected == 0 ? 0 : static_cast<int>(shown * kDownloadGaugeRange / expected));
  std::lock_guard lock(g_detailLock);
  if (g_detailHook) g_detailHook(received, expected);
}

bool RunDownloadDriver(PatchRunContext& context) {
  PatchDownloadCallback callback(context.cancelRequested);
  int applied = 0;
  return RunDownload(applied, &callback);
}

}  // namespace

void InstallStandardRunDrivers(std::shared_ptr<InstallLocatorFrontEnd> locator) {
  if (!locator) locator = std::make_shared<SilentLocator>();
  RunDriverHooks& hooks = GetRunDriverHooks();
  hooks.filesNotInUse = CheckFilesNotInUse;
  hooks.releaseDatabase = ReleaseDatabase;
  hooks.checkDiskSpace = CheckDiskSpace;
  hooks.runStandalone = [](PatchRunContext&) { return RunStandalone(); };
  hooks.runRepair = RunRepair;
  hooks.runDownload = RunDownloadDriver;
  SetDownloadProgressObserver(ShowDownloadProgress);
  hooks.findProductInstallPath = FindProductInstallPath;
  hooks.locateInstallation = [locator = std::move(locator)](const std::wstring& programPath) {
    return LocateInstallation(programPath, false, *locator);
  };
}

void SetDownloadDetailHook(std::function<void(std::uint64_t, std::uint64_t)> hook) {
  std::lock_guard lock(g_detailLock);
  g_detailHook = std::move(hook);
}

}  // namespace NolkPatch
