// One client connection of the repair server. The exchange:
//   client: protocol number (32-bit, must be 6); server: 6
//   client: its summary stream; server: the record count N, then N records
// (RepairPlan.h, SegmentRecord.h). After the last record the server ends
// its sending side and waits briefly for the client to close.
//
// Every step is asynchronous on the session's strand, so a slow, silent or
// hostile client holds no thread: each wait is bounded by the idle limit,
// after which the connection is closed. A session keeps nothing once it
// ends; sessions share only the read-only reference index. Each ends with
// one log line: the peer, the outcome, records sent of those planned, bytes
// sent and received, and the time taken.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/repair-server/ClientSummaryParser.h"
#include "tools/repair-server/RepairPlan.h"
#include "tools/repair-server/SegmentRecord.h"

namespace KorvelRepairServer {

inline constexpr std::uint32_t kRepairProtocol = 6;

class RepairSession : public std::enable_shared_from_this<RepairSession> {
 public:
  RepairSession(asio::ip::tcp::socket socket, const ReferenceIndex& reference,
                std::chrono::milliseconds idleLimit);
  void Start();

 private:
  void ReadProtocol();
  void ReadSummary();
  void SendCount();
  void SendNextRecord();
  void AwaitClientClose();
  // Ends the session once, with its log line.
  void Finish(const std::string& outcome);
  // Restarts the idle limit for the next wait.
  void ArmIdleLimit(std::chrono::milliseconds limit);
  // The outcome text for a failed read or write.
  std::string Failure(const char* step, const asio::error_code& error) const;

  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_idleTimer;
  const ReferenceIndex& m_reference;
  const std::chrono::milliseconds m_idleLimit;
  const std::chrono::steady_clock::time_point m_started;
  std::string m_peer;

  unsigned char m_word[4] = {};
  std::string m_readBuffer;
  ClientSummaryParser m_summary;
  RepairPlan m_plan;
  BuiltRecord m_record;
  std::size_t m_sent = 0;
  std::size_t m_compressed = 0;
  std::uint64_t m_bytesSent = 0;
  std::uint64_t m_bytesReceived = 0;
  bool m_timedOut = false;
  bool m_finished = false;
};

}  // namespace KorvelRepairServer
