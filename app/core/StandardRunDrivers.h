// Registers the program's own implementations behind the patch worker's
// hooks (RunDrivers.h): the asset-database check and release, the disk
// check, the standalone and repair runs, the registry lookup of the
// installation and the installation discovery. The download run is not
// part of this build yet; its hook is left as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/core/InstallDiscovery.h"

namespace NolkPatch {

// `locator` is the front end the discovery asks when the registry gives no
// usable folder (the console's, or the window's file dialog). Without one
// the discovery answers every such question as cancelled.
void InstallStandardRunDrivers(std::shared_ptr<InstallLocatorFrontEnd> locator = nullptr);

// Told with (bytes received, bytes expected; 0 when unknown) after every
// chunk of an archive download, on the worker thread, besides the
// progress bar (the console shows bytes, rate and time left).
void SetDownloadDetailHook(std::function<void(std::uint64_t received, std::uint64_t expected)> hook);

}  // namespace NolkPatch
