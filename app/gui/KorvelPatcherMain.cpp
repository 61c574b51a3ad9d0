// korvel-patcher: the patch window program.
#include "KernelStandard/KernelStartup.h"
#include "app/gui/KorvelPatcherApp.h"

namespace {
// The kernel starts before the toolkit: the toolkit's main comes from the
// macro below, so the earliest place of our own is a static initialiser.
const bool kKernelStarted = (KernelStartup(), true);
}  // namespace

wxIMPLEMENT_APP(NolkPatch::KorvelPatcherApp);
