#include "tools/repair-server/ServerOptions.h"

#include <cstdlib>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"
#include "repair/FileTreeSummary.h"

namespace KorvelRepairServer {
namespace {

bool ParseNumber(const std::string& text, unsigned long maximum, unsigned long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
    return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return value <= maximum;
}

}  // namespace

const char* ServerUsage() {
  return "usage: korvel-repair-server --root REFERENCE [--port 6000] [--bind 0.0.0.0]\n"
         "                            [--port-file FILE] [--index FILE] [--threads N]\n"
         "                            [--idle-timeout SECONDS]\n"
         "Serves the installation REFERENCE to repair clients (protocol 6).\n"
         "  --root          the reference installation (must be readable)\n"
         "  --port          TCP port, 6000 by default; 0 picks a free one\n"
         "  --bind          local address to listen on, 0.0.0.0 by default\n"
         "  --port-file     write the port listened on to FILE\n"
         "  --index         the segment index, REFERENCE/repair.cks by default\n"
         "  --threads       worker threads, one per processor by default\n"
         "  --idle-timeout  seconds a client may stay silent, 60 by default\n";
}

bool ParseServerOptions(const std::vector<std::string>& arguments, ServerOptions& options,
                        std::string& error) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--help" || name == "-h") {
      options.help = true;
      return true;
    }
    if (i + 1 >= arguments.size()) {
      error = name.rfind("--", 0) == 0 ? "missing value for " + name : "unexpected argument " + name;
      return false;
    }
    const std::string& value = arguments[++i];
    unsigned long number = 0;
    if (name == "--root") {
      options.root = OS::FromUtf8(value);
    } else if (name == "--index") {
      options.indexFile = OS::FromUtf8(value);
    } else if (name == "--port-file") {
      options.portFile = OS::FromUtf8(value);
    } else if (name == "--bind") {
      options.listen.bindAddress = value;
    } else if (name == "--port") {
      if (!ParseNumber(value, 65535, number)) return error = "bad port " + value, false;
      options.listen.port = static_cast<std::uint16_t>(number);
    } else if (name == "--threads") {
      if (!ParseNumber(value, 256, number) || number == 0) return error = "bad thread count " + value, false;
      options.listen.threads = static_cast<unsigned>(number);
    } else if (name == "--idle-timeout") {
      if (!ParseNumber(value, 86400, number) || number == 0)
        return error = "bad idle timeout " + value, false;
      options.listen.idleLimit = std::chrono::seconds(number);
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (options.root.empty()) {
    error = "--root is required";
    return false;
  }
  if (options.indexFile.empty())
    options.indexFile = NolkUtil::JoinPath(options.root, NolkPatch::kSummaryFileName);
  return true;
}

}  // namespace KorvelRepairServer
