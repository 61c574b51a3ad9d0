// The console's front end for the installation discovery. There is no
// window: the browse and Apply buttons do not exist, and the run starts at
// once when the package applies.
//
// Instead of the open-file dialog, the locator offers, once, the folder that
// the command line named as the installation (the second positional
// parameter), as if the user had picked <folder>/Ombrix.exe in the dialog;
// every later question is answered "cancelled". So a script can name the
// installation when the registry has none: the discovery then reports that
// the registry gave no folder, takes the offered one and goes on. A folder
// named ".../bin" lands on its parent, as a pick of bin/Ombrix.exe does.
// Without a folder from the command line the first question is cancelled.
#pragma once

#include <string>

#include "app/core/InstallDiscovery.h"

namespace NolkPatch {

class ConsoleInstallLocator final : public InstallLocatorFrontEnd {
 public:
  // The folder to offer; start-up calls it once the command line's folder
  // is known (and made absolute). An empty folder offers nothing.
  void OfferFolder(std::wstring folder) { m_offeredFolder = std::move(folder); }

  void EnableBrowse() override {}
  void EnableApply() override {}
  std::wstring ChooseGameProgram() override;

 private:
  std::wstring m_offeredFolder;
};

}  // namespace NolkPatch
