#include "repair/RepairServerAddress.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <charconv>

#include "KernelStandard/platform/Platform.h"

#ifndef KORVEL_REPAIR_HOST
#define KORVEL_REPAIR_HOST "repair.ombrix.korvel.com"
#endif

namespace NolkPatch {

bool ParseRepairServerName(const std::string& text, RepairServerName& name) {
  const std::size_t colon = text.rfind(':');
  RepairServerName parsed;
  parsed.host = text.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535)
      return false;
    parsed.port = static_cast<std::uint16_t>(port);
  }
  if (parsed.host.empty()) return false;
  name = parsed;
  return true;
}

bool ConfiguredRepairServer(RepairServerName& name) {
  std::string value;
  if (OS::Current().GetEnvironment(kRepairServerVariable, value) && !value.empty())
    return ParseRepairServerName(value, name);
  name = RepairServerName{KORVEL_REPAIR_HOST, kRepairServerPort};
  return true;
}

bool ResolveRepairServer(const RepairServerName& name, SocketAddress& address) {
  asio::io_context context;
  asio::ip::tcp::resolver resolver(context);
  asio::error_code error;
  const auto results = resolver.resolve(asio::ip::tcp::v4(), name.host, std::to_string(name.port), error);
  if (error) return false;
  for (const auto& entry : results) {
    const asio::ip::address found = entry.endpoint().address();
    if (!found.is_v4()) continue;
    address.address = found.to_v4().to_uint();  // host byte order
    address.port = name.port;
    return true;
  }
  return false;
}

}  // namespace NolkPatch
