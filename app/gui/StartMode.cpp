#include "app/gui/StartMode.h"

#include "app/core/StartupSteps.h"
#include "app/gui/PatchMainFrame.h"
#include "patch/PatchSettings.h"

namespace NolkPatch {

void StartSelectedMode(PatchMainFrame& frame) {
  const PatchSettings& settings = PatchSettings::Get();
  if (settings.DownloadMode() || settings.RepairMode) {
    wxCommandEvent start;
    frame.StartPatch(start);
  } else if (!settings.StandaloneMode()) {
    frame.ApplyButton()->Disable();
    ReportNoOperation();
  }
}

}  // namespace NolkPatch
