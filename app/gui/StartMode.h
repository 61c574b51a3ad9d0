// The last step of start-up, after the installation has been located.
#pragma once

namespace NolkPatch {

class PatchMainFrame;

// Download and repair mode start the run at once; without standalone mode
// Apply is disabled and "No valid patch operation was specified. Patching
// aborted." is posted as an error; standalone mode waits for Apply.
void StartSelectedMode(PatchMainFrame& frame);

}  // namespace NolkPatch
