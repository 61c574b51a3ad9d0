// The repair server's listener: accepts connections on one port and runs a
// RepairSession for each, on a pool of threads (one per processor by
// default) that all run the same asio context. It keeps no state between
// connections beyond the read-only reference index, so several servers can
// share one reference behind a TCP load balancer.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <string>

#include "tools/repair-server/ReferenceIndex.h"

namespace KorvelRepairServer {

struct ListenOptions {
  std::string bindAddress = "0.0.0.0";
  std::uint16_t port = 6000;  // 0: any free port
  unsigned threads = 0;       // 0: one per processor
  std::chrono::milliseconds idleLimit{60000};
};

class RepairServer {
 public:
  RepairServer(const ReferenceIndex& reference, ListenOptions options);
  // Binds and listens. False with a reason when the address cannot be used.
  bool Listen(std::string& error);
  // The port bound by Listen (the chosen one for port 0).
  std::uint16_t Port() const { return m_port; }
  // Serves until SIGINT or SIGTERM arrives or Stop() is called.
  void Run();
  void Stop();
  unsigned ThreadCount() const;

 private:
  void Accept();
  void RunContext();

  const ReferenceIndex& m_reference;
  ListenOptions m_options;
  asio::io_context m_context;
  asio::ip::tcp::acceptor m_acceptor;
  asio::signal_set m_signals;
  std::uint16_t m_port = 0;
};

}  // namespace KorvelRepairServer
