// The command line of korvel-repair-server.
#pragma once

#include <string>
#include <vector>

#include "tools/repair-server/RepairServer.h"

namespace KorvelRepairServer {

struct ServerOptions {
  std::wstring root;       // the reference installation
  std::wstring indexFile;  // default: repair.cks in the reference
  std::wstring portFile;   // receives the bound port when set
  ListenOptions listen;
  bool help = false;
};

// False with a reason for a bad command line.
bool ParseServerOptions(const std::vector<std::string>& arguments, ServerOptions& options,
                        std::string& error);
const char* ServerUsage();

}  // namespace KorvelRepairServer
