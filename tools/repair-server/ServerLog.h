// The server's log: whole lines on the standard output, one write per line
// under a lock, so lines of sessions on different threads never mix.
#pragma once

#include <string>

namespace KorvelRepairServer {

void LogLine(const std::string& line);

}  // namespace KorvelRepairServer
