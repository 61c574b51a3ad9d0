// The operations the patch worker calls that live in other parts of the
// program (run drivers, asset-database hand-over, disk check, registry
// lookup). Whoever links them registers them here at start-up; the worker
// treats a missing entry honestly: a missing run driver is reported as an
// error and the run is aborted, a missing files-in-use check counts as "not
// in use", a missing disk check as passed, a missing release as nothing to
// release, a missing install-path lookup as "not found", a missing
// installation check as "no package".
#pragma once

#include <functional>
#include <string>

#include "app/core/Messaging.h"

namespace NolkPatch {

// What a run driver gets from the worker.
struct PatchRunContext {
  KorvelPatchTask& task;
  std::function<bool()> cancelRequested;
};

struct RunDriverHooks {
  // True when no other game program holds the asset database (including
  // the driver's own retries).
  std::function<bool()> filesNotInUse;
  // Releases the exclusive hold on the asset database and disconnects from it.
  std::function<void()> releaseDatabase;
  // True when at least the given number of megabytes are free.
  std::function<bool(unsigned megabytes)> checkDiskSpace;
  // The three runs; true on success.
  std::function<bool(PatchRunContext&)> runStandalone;
  std::function<bool(PatchRunContext&)> runDownload;
  std::function<bool(PatchRunContext&)> runRepair;
  // The installation folder registered for (product class, product name);
  // empty when none.
  std::function<std::wstring(const std::wstring& productClass, const std::wstring& productName)>
      findProductInstallPath;
  // Opens the program's own file as a patch package and checks whether it
  // applies to the installation (sets StandaloneMode when it does).
  std::function<bool(const std::wstring& programPath)> locateInstallation;
};

// The process-wide table; register before the first run starts.
RunDriverHooks& GetRunDriverHooks();
void SetRunDriverHooks(RunDriverHooks hooks);

}  // namespace NolkPatch
