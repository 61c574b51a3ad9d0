// NolkDataBufferTCP: a connected TCP stream as a NolkDataBuffer. Reads and
// writes are socket requests on the completion port (TCPSocket); the
// buffer's critical section is held while a request is issued, never while
// it is waited for.
//
// The stream cannot seek: GetSize is 0, SetSize and SetPosition return 6,
// GetPosition is the number of bytes received so far (64-bit: a stream can
// carry more than 4 GiB).
//
// ReadData completes when all bytes have arrived, or, with partial reads
// allowed, as soon as some have (code 14). Socket failures pass through as
// their result codes (3 connection lost, 12 refused, 13 closed by the peer
// or aborted, ...); 7 when the buffer has no socket.
//
// Disconnect(true) may be called from another thread while a read or write
// waits (a Cancel button): the socket is closed at once and the waiting
// request ends with 13. A request during which nothing moves for the
// inactivity time-out (2 minutes unless set otherwise) ends with 3.
//
// Every buffer holds a reference on the process-wide socket manager for its
// lifetime.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "KernelStandard/CriticalSection.h"
#include "net/SocketAddress.h"
#include "net/TCPSocket.h"
#include "stream/NolkDataBuffer.h"

class CPSocketManager;

class NolkDataBufferTCP : public NolkDataBuffer {
 public:
  // A new, unconnected socket.
  NolkDataBufferTCP();
  // Takes over a socket that is already connected (an accepted one).
  explicit NolkDataBufferTCP(std::unique_ptr<TCPSocket> socket);
  ~NolkDataBufferTCP() override;

  // 7 without a socket or when connected already; else the connect's code.
  // After a failed attempt or a disconnect, a new socket is made for the
  // next attempt.
  NolkResult Connect(const SocketAddress& address);
  // Abortive: closes the socket at once (safe from another thread).
  // Graceful: shuts the connection down in order and waits for it.
  // Returns the disconnect's result code (0 for an abortive one).
  NolkResult Disconnect(bool abortive);
  bool IsConnected() const;
  void SetPartialReads(bool allow) { m_allowPartialReads = allow; }
  // The limit for a request during which nothing moves; 0 disables it.
  void SetInactivityTimeout(std::chrono::milliseconds timeout);

  std::uint64_t GetSize() const override { return 0; }
  NolkResult SetSize(std::uint64_t) override { return NOLKRESULT_NOT_SUPPORTED; }
  std::uint64_t GetPosition() const override { return m_received; }
  NolkResult SetPosition(std::uint64_t) override { return NOLKRESULT_NOT_SUPPORTED; }
  NolkResult WriteData(const void* data, std::uint32_t length) override;
  NolkResult ReadData(void* data, std::uint32_t length) override;

  TCPSocket* Socket() { return m_socket.get(); }

 private:
  enum class Request { Read, Write };
  NolkResult Transfer(Request request, void* data, std::uint32_t length);

  Vek::CriticalSection m_lock;
  std::unique_ptr<TCPSocket> m_socket;
  std::uint64_t m_received = 0;
  bool m_allowPartialReads = false;
  std::atomic<bool> m_connected{false};
  bool m_connectAttempted = false;  // the socket has been bound for a connect
  CPSocketManager* m_manager = nullptr;
};
