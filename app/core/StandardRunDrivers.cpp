#include "app/core/StandardRunDrivers.h"

#include <utility>

#include "app/core/RepairRun.h"
#include "app/core/RunDrivers.h"
#include "patch/AssetDatabase.h"
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

}  // namespace

void InstallStandardRunDrivers(std::shared_ptr<InstallLocatorFrontEnd> locator) {
  if (!locator) locator = std::make_shared<SilentLocator>();
  RunDriverHooks& hooks = GetRunDriverHooks();
  hooks.filesNotInUse = CheckFilesNotInUse;
  hooks.releaseDatabase = ReleaseDatabase;
  hooks.checkDiskSpace = CheckDiskSpace;
  hooks.runStandalone = [](PatchRunContext&) { return RunStandalone(); };
  hooks.runRepair = RunRepair;
  hooks.findProductInstallPath = FindProductInstallPath;
  hooks.locateInstallation = [locator = std::move(locator)](const std::wstring& programPath) {
    return LocateInstallation(programPath, false, *locator);
  };
}

}  // namespace NolkPatch
