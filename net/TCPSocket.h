// TCPSocket: an IPv4 stream socket driven by the socket manager's
// completion port. A user thread never makes a socket call that can block
// on the network: it fills an IOOperation, starts it here (the request is
// posted to the port) and waits on the operation. The worker thread issues
// the asynchronous call, receives its completion, continues it until the
// whole request is done and then signals the operation.
//
// Usage from a user thread:
//   IOOperation operation;  operation.SetData(buffer, length);
//   socket.EnterUserland();  socket.StartRead(operation);  operation.Wait();
//   socket.LeaveUserland();  result = operation.m_error;
//
// Result codes in operation.m_error: 0, 3 connection lost (reset, timed
// out, unreachable), 5 bad address, 7 not a socket or invalid, 11 other,
// 12 refused, 13 closed by the peer (a receive that got 0 bytes) or
// aborted (the socket was closed meanwhile), 14 partial read.
//
// Inactivity limit: a connect, receive or send during which nothing moves
// for the socket's inactivity time-out (2 minutes by default) is cancelled
// and ends with 3 (the system error is WSAETIMEDOUT), so a silent peer
// never holds a user thread for ever. Close() may be called from any
// thread; an operation pending on the socket then ends with 13 at once.
//
// One user thread at a time may use a socket (EnterUserland asserts it).
// The accept path is complete but unused by the program itself.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "KernelStandard/ResultCodes.h"
#include "net/CPHandler.h"
#include "net/IOOperation.h"
#include "net/SocketAddress.h"

class TCPSocket : public CPHandler {
 public:
  static constexpr int INVALID_SOCKET = -1;
  static constexpr std::chrono::milliseconds kDefaultInactivityTimeout{120000};

  // Bind options.
  enum BindOption { BIND_PLAIN = 0, BIND_EXCLUSIVE_ADDRESS = 1, BIND_REUSE_ADDRESS = 2 };

  TCPSocket();
  // Closes the socket (resetting the connection) and waits until the
  // worker holds nothing of it. Must be called on a user thread.
  ~TCPSocket() override;

  void OnCompletion(IOOperation& operation, std::uint32_t systemError) override;
  int GetHandle() const override { return m_socket.load(); }

  // Creates the socket and binds it to the manager's port; false when the
  // socket cannot be created or the manager has no worker.
  virtual bool Create(CPSocketManager* manager);
  virtual void StartConnect(const SocketAddress& remote, IOOperation& operation);
  virtual void StartRead(IOOperation& operation);
  virtual void StartWrite(IOOperation& operation);
  virtual void StartDisconnect(IOOperation& operation);
  // Worker-side steps; each returns true when the request is finished.
  virtual bool AcceptResponse(IOOperation& operation, std::uint32_t systemError);
  virtual bool ConnectResponse(IOOperation& operation, std::uint32_t systemError);
  virtual bool RecvResponse(IOOperation& operation, std::uint32_t systemError);
  virtual bool SendResponse(IOOperation& operation, std::uint32_t systemError);
  virtual bool DisconnectResponse(IOOperation& operation, std::uint32_t systemError);

  // Binds to a local address (BindOption); the actual address is stored.
  NolkResult Bind(const SocketAddress& local, int option);
  NolkResult Listen(int backlog);
  // Accepts the next connection of a listening socket into this socket.
  void StartAccept(TCPSocket& listening, IOOperation& operation);
  // Resets the connection and closes the socket; safe from any thread.
  void Close();
  // how: 0 receive, 1 send, anything else both.
  NolkResult Shutdown(int how);
  // Seconds since the connection was made; -1 when not connected.
  int GetConnectionTime() const;

  // The user-thread guard: one user thread holds the socket at a time;
  // holds nest on that thread.
  void EnterUserland();
  void LeaveUserland();
  bool IsUserlandSocketOperationInProgress() const { return m_currentUserlandThread.load() != -1; }
  static bool IsInIOCPThread();
  static bool IsInUserlandThread() { return !IsInIOCPThread(); }

  void SetAllowPartialReads(bool allow) { m_allowPartialReads.store(allow); }
  void SetCreatorThread(std::uint32_t threadId) { m_creatorThread = threadId; }
  // 0 disables the limit.
  void SetInactivityTimeout(std::chrono::milliseconds timeout) {
    m_inactivityTimeoutMs.store(timeout.count());
  }
  SocketAddress GetLocalAddress() const { return m_localAddress; }
  SocketAddress GetRemoteAddress() const { return m_remoteAddress; }

 private:
  struct Impl;

  void PostOperation(IOOperation& operation);
  // Stores the mapped result and the system error; the request is finished.
  static bool Finish(IOOperation& operation, std::uint32_t systemError);
  // Issues the asynchronous calls; 0 when pending, else the system error of
  // a call that failed at once.
  std::uint32_t IssueConnect(IOOperation& operation);
  std::uint32_t IssueReceive(IOOperation& operation);
  std::uint32_t IssueSend(IOOperation& operation);
  std::uint32_t IssueDisconnect(IOOperation& operation);
  std::uint32_t IssueAccept(IOOperation& operation);
  // The no-buffer-space retry: back to the start kind, re-posted.
  void RetryLater(IOOperation& operation, std::int32_t startKind, const char* message);
  // Common end of every asynchronous call (on the worker).
  void Completed(IOOperation& operation, std::size_t bytes, std::uint32_t systemError);
  void ArmInactivityTimer();
  void DisarmInactivityTimer();
  void CloseOnWorker();
  void MarkConnected();

  std::atomic<int> m_socket{INVALID_SOCKET};
  std::uint32_t m_creatorThread = 0;
  TCPSocket* m_listening = nullptr;  // the listening socket of a pending accept
  std::atomic<bool> m_allowPartialReads{false};
  SocketAddress m_localAddress;
  SocketAddress m_remoteAddress;
  std::atomic<std::int64_t> m_currentUserlandThread{-1};
  int m_userHoldCount = 0;
  std::atomic<std::int64_t> m_inactivityTimeoutMs{kDefaultInactivityTimeout.count()};
  std::atomic<std::int64_t> m_connectedAtMs{-1};
  bool m_holdsManager = false;
  std::unique_ptr<Impl> m_impl;
};
