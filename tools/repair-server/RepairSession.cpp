#include "tools/repair-server/RepairSession.h"

#include <cstdio>
#include <cstring>

#include "KernelStandard/platform/Platform.h"
#include "repair/SummaryStreamFormat.h"
#include "tools/repair-server/ServerLog.h"

namespace KorvelRepairServer {
namespace {

constexpr std::size_t kReadPiece = 64 * 1024;
// How long a client that has everything may take to close its end.
constexpr std::chrono::milliseconds kCloseGrace{10000};

std::string PeerName(const asio::ip::tcp::socket& socket) {
  asio::error_code error;
  const auto peer = socket.remote_endpoint(error);
  if (error) return "unknown peer";
  return peer.address().to_string() + ":" + std::to_string(peer.port());
}

}  // namespace

RepairSession::RepairSession(asio::ip::tcp::socket socket, const ReferenceIndex& reference,
                             std::chrono::milliseconds idleLimit)
    : m_socket(std::move(socket)),
      m_idleTimer(m_socket.get_executor()),
      m_reference(reference),
      m_idleLimit(idleLimit),
      m_started(std::chrono::steady_clock::now()),
      m_peer(PeerName(m_socket)) {}

void RepairSession::Start() {
  asio::error_code ignored;
  m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
  ReadProtocol();
}

void RepairSession::ArmIdleLimit(std::chrono::milliseconds limit) {
  m_idleTimer.expires_after(limit);
  m_idleTimer.async_wait([self = shared_from_this()](const asio::error_code& error) {
    if (error || self->m_finished) return;
    self->m_timedOut = true;
    asio::error_code ignored;
    self->m_socket.close(ignored);
  });
}

std::string RepairSession::Failure(const char* step, const asio::error_code& error) const {
  if (m_timedOut) return std::string("timed out ") + step;
  if (error == asio::error::eof) return std::string("client closed the connection ") + step;
  return std::string("connection lost ") + step + " (" + error.message() + ")";
}

void RepairSession::ReadProtocol() {
  ArmIdleLimit(m_idleLimit);
  asio::async_read(
      m_socket, asio::buffer(m_word), [self = shared_from_this()](asio::error_code error, std::size_t) {
        if (error) return self->Finish(self->Failure("before the protocol number", error));
        self->m_bytesReceived += 4;
        const std::uint32_t protocol = NolkUtil::LoadLe32(self->m_word);
        if (protocol != kRepairProtocol) return self->Finish("refused protocol " + std::to_string(protocol));
        std::string answer;
        NolkUtil::AppendLe32(kRepairProtocol, answer);
        std::memcpy(self->m_word, answer.data(), 4);
        asio::async_write(self->m_socket, asio::buffer(self->m_word),
                          [self](asio::error_code error, std::size_t) {
                            if (error)
                              return self->Finish(self->Failure("answering the protocol number", error));
                            self->m_bytesSent += 4;
                            self->ReadSummary();
                          });
      });
}

void RepairSession::ReadSummary() {
  ArmIdleLimit(m_idleLimit);
  m_readBuffer.resize(kReadPiece);
  m_socket.async_read_some(asio::buffer(m_readBuffer),
                           [self = shared_from_this()](asio::error_code error, std::size_t length) {
                             if (error) return self->Finish(self->Failure("during the summary", error));
                             self->m_bytesReceived += length;
                             switch (self->m_summary.Feed(self->m_readBuffer.data(), length)) {
                               case ClientSummaryParser::Status::NeedMore:
                                 return self->ReadSummary();
                               case ClientSummaryParser::Status::Refused:
                                 return self->Finish("refused summary: " + self->m_summary.Problem());
                               case ClientSummaryParser::Status::Complete:
                                 break;
                             }
                             // The client sends nothing after its summary; anything more is garbage.
                             if (self->m_summary.Surplus() != 0)
                               return self->Finish("refused summary: bytes after its end");
                             self->m_plan = PlanRepair(self->m_reference, self->m_summary.TakeEntries());
                             self->SendCount();
                           });
}

void RepairSession::SendCount() {
  ArmIdleLimit(m_idleLimit);
  std::string count;
  NolkUtil::AppendLe32(static_cast<std::uint32_t>(m_plan.records.size()), count);
  std::memcpy(m_word, count.data(), 4);
  asio::async_write(m_socket, asio::buffer(m_word),
                    [self = shared_from_this()](asio::error_code error, std::size_t) {
                      if (error) return self->Finish(self->Failure("sending the record count", error));
                      self->m_bytesSent += 4;
                      self->SendNextRecord();
                    });
}

void RepairSession::SendNextRecord() {
  if (m_sent == m_plan.records.size()) return AwaitClientClose();
  const PlannedRecord& planned = m_plan.records[m_sent];
  if (!BuildSegmentRecord(m_reference, planned, m_record))
    return Finish("reference segment unreadable: " + OS::ToUtf8(planned.Key()));
  ArmIdleLimit(m_idleLimit);
  asio::async_write(m_socket, asio::buffer(m_record.bytes),
                    [self = shared_from_this()](asio::error_code error, std::size_t length) {
                      self->m_bytesSent += length;
                      if (error) return self->Finish(self->Failure("sending a segment", error));
                      ++self->m_sent;
                      self->m_compressed += self->m_record.compressed ? 1 : 0;
                      self->SendNextRecord();
                    });
}

// Ends the sending side so the client sees every byte, then waits for the
// client's close, so that closing here never resets a connection whose last
// bytes the client has not read yet.
void RepairSession::AwaitClientClose() {
  asio::error_code ignored;
  m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  ArmIdleLimit(std::min(m_idleLimit, kCloseGrace));
  m_readBuffer.resize(kReadPiece);
  m_socket.async_read_some(asio::buffer(m_readBuffer),
                           [self = shared_from_this()](asio::error_code error, std::size_t length) {
                             self->m_bytesReceived += length;
                             if (!error) return self->AwaitClientClose();
                             self->Finish("complete");
                           });
}

void RepairSession::Finish(const std::string& outcome) {
  if (m_finished) return;
  m_finished = true;
  asio::error_code ignored;
  m_idleTimer.cancel();
  m_socket.close(ignored);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
  char figures[256];
  std::snprintf(figures, sizeof figures,
                ": sent %zu of %zu segments (%zu compressed), %llu bytes in %.3f s, received %llu bytes",
                m_sent, m_plan.records.size(), m_compressed, static_cast<unsigned long long>(m_bytesSent),
                seconds, static_cast<unsigned long long>(m_bytesReceived));
  LogLine("session " + m_peer + " " + outcome + figures);
}

}  // namespace KorvelRepairServer
