// korvel-patcher: the patch window program.
#include "app/gui/KorvelPatcherApp.h"

wxIMPLEMENT_APP(NolkPatch::KorvelPatcherApp);
