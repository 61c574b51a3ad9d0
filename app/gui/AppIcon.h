// The window icon "nolkIcon", compiled into the program.
#pragma once

#include <wx/icon.h>

namespace NolkPatch {

// Invalid (IsOk false) only if the embedded image cannot be decoded.
wxIcon LoadNolkIcon();

}  // namespace NolkPatch
