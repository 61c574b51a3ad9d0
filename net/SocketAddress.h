// An IPv4 socket address: the address as a 32-bit number in host byte
// order, and the port.
#pragma once

#include <cstdint>

struct SocketAddress {
  std::uint32_t address = 0;
  std::uint16_t port = 0;

  static constexpr std::uint32_t kAny = 0;
  static constexpr std::uint32_t kLoopback = 0x7F000001u;  // 127.0.0.1

  bool operator==(const SocketAddress&) const = default;
};
