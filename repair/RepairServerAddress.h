// Where the repair server is: a host name fixed when the program is built
// (the CMake cache variable KORVEL_REPAIR_HOST) on port 6000, unless the
// environment variable KORVEL_REPAIR_SERVER names another one as
// "host:port" or "host" (port 6000). The name is looked up as IPv4 at the
// start of each run.
#pragma once

#include <cstdint>
#include <string>

#include "net/SocketAddress.h"

namespace NolkPatch {

inline constexpr std::uint16_t kRepairServerPort = 6000;
inline constexpr char kRepairServerVariable[] = "KORVEL_REPAIR_SERVER";

struct RepairServerName {
  std::string host;
  std::uint16_t port = kRepairServerPort;
};

// The built-in name, or the environment's when KORVEL_REPAIR_SERVER is set
// and not empty. False when that variable cannot be read as host[:port].
bool ConfiguredRepairServer(RepairServerName& name);
// Parses "host" or "host:port" (port 1..65535).
bool ParseRepairServerName(const std::string& text, RepairServerName& name);
// Looks the host up (IPv4) and gives the first address in host byte order
// with the port. False when the lookup fails or gives no IPv4 address.
bool ResolveRepairServer(const RepairServerName& name, SocketAddress& address);

}  // namespace NolkPatch
