// The installation files the repair server never serves and never asks a
// client to remove: the game's uninstaller (installed per machine), the
// client's summary cache and the patch journal (both belong to the player's
// own installation). They are relative names at the top of the
// installation, compared exactly.
#pragma once

#include <set>
#include <string>

namespace KorvelRepairServer {

const std::set<std::wstring>& NeverServedNames();
// Whether a file's relative name (with '\' separators) is never served.
bool IsNeverServed(const std::wstring& relativePath);

}  // namespace KorvelRepairServer
