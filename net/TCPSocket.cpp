// TCPSocket on asio: every call on the asio socket runs on the manager's
// worker thread (asynchronous calls from the responses, the few direct
// calls through CPSocketManager::RunOnWorker), so the socket object is
// never used by two threads at once.
#include "net/TCPSocket.h"

#include <string>
#include <system_error>

#include "KernelStandard/Assert.h"
#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/platform/Platform.h"
#include "net/AsioContext.h"
#include "net/CPSocketManager.h"
#include "net/SocketErrors.h"

using asio::ip::tcp;

struct TCPSocket::Impl {
  explicit Impl(asio::io_context& io) : socket(io), timer(io) {}

  tcp::socket socket;
  std::unique_ptr<tcp::acceptor> acceptor;  // after Listen
  asio::steady_timer timer;                 // the inactivity limit of the pending call
  std::uint64_t timerGeneration = 0;        // tells a stale expiry from the current one
  bool timedOut = false;                    // the pending call was cancelled by the limit
  bool reusesAddress = false;               // bound with address reuse
  int outstanding = 0;                      // asynchronous calls whose handlers have not run

  void MoveBoundSocketInto(tcp::acceptor& acceptor, std::error_code& failure);
};

namespace {

struct ErrorMapping {
  std::errc condition;
  std::uint32_t code;
};

constexpr ErrorMapping kErrorMappings[] = {
    {std::errc::connection_refused, SocketError::CONNREFUSED},
    {std::errc::connection_reset, SocketError::CONNRESET},
    {std::errc::broken_pipe, SocketError::CONNRESET},
    {std::errc::timed_out, SocketError::TIMEDOUT},
    {std::errc::network_down, SocketError::NETDOWN},
    {std::errc::network_unreachable, SocketError::NETUNREACH},
    {std::errc::host_unreachable, SocketError::HOSTUNREACH},
    {std::errc::connection_aborted, SocketError::CONNABORTED},
    {std::errc::network_reset, SocketError::NETRESET},
    {std::errc::bad_address, SocketError::FAULT},
    {std::errc::address_family_not_supported, SocketError::AFNOSUPPORT},
    {std::errc::address_in_use, SocketError::ADDRINUSE},
    {std::errc::address_not_available, SocketError::ADDRNOTAVAIL},
    {std::errc::invalid_argument, SocketError::INVAL},
    {std::errc::connection_already_in_progress, SocketError::ALREADY},
    {std::errc::not_a_socket, SocketError::NOTSOCK},
    {std::errc::bad_file_descriptor, SocketError::NOTSOCK},
    {std::errc::no_buffer_space, SocketError::NOBUFS},
    {std::errc::not_connected, SocketError::NOTCONN},
    {std::errc::already_connected, SocketError::ISCONN},
    {std::errc::permission_denied, SocketError::ACCES},
    {std::errc::message_size, SocketError::MSGSIZE},
    {std::errc::operation_would_block, SocketError::WOULDBLOCK},
};

// The Winsock number of an asio error. The end of the stream is no error:
// Windows reports a receive of 0 bytes, which the receive step turns into
// "closed by the peer".
std::uint32_t SystemErrorOf(const std::error_code& error) {
  if (!error || error == asio::error::eof) return SocketError::NONE;
  if (error == asio::error::operation_aborted) return SocketError::OPERATION_ABORTED;
  if (error == asio::error::shut_down) return SocketError::SHUTDOWN;
#ifdef _WIN32
  // On Windows asio's system errors are the Winsock and system numbers the
  // codes already are; the runtime library maps few of them to portable
  // conditions.
  if (error.category() == asio::error::get_system_category())
    return static_cast<std::uint32_t>(error.value());
#endif
  // asio's own system category does not compare with the portable error
  // conditions; the library's system category, with the same numbers, does.
  const std::error_code portable = error.category() == asio::error::get_system_category()
                                       ? std::error_code(error.value(), std::system_category())
                                       : error;
  for (const ErrorMapping& mapping : kErrorMappings)
    if (portable == mapping.condition) return mapping.code;
  return SocketError::FOREIGN_CODE | (static_cast<std::uint32_t>(error.value()) & 0xFFFFu);
}

tcp::endpoint EndpointOf(const SocketAddress& address) {
  return tcp::endpoint(asio::ip::address_v4(address.address), address.port);
}

SocketAddress AddressOf(const tcp::endpoint& endpoint) {
  SocketAddress address;
  address.address = endpoint.address().is_v4() ? endpoint.address().to_v4().to_uint() : 0;
  address.port = endpoint.port();
  return address;
}

std::int64_t NowMs() {
  return OS::SteadyMilliseconds();
}

}  // namespace

TCPSocket::TCPSocket() = default;

TCPSocket::~TCPSocket() {
  CPSocketManager* manager = GetManager();
  if (m_impl && manager != nullptr) {
    Vek::Assert(IsInUserlandThread(), "IsInUserlandThread()");
    manager->RunOnWorker([this] { CloseOnWorker(); });
    // Cancelled calls report back through handlers that refer to this
    // socket: wait until all of them have run.
    bool drained = false;
    while (!drained) manager->RunOnWorker([this, &drained] { drained = m_impl->outstanding == 0; });
    manager->RunOnWorker([this] { m_impl.reset(); });
  }
  if (m_holdsManager) CPSocketManager::Release();
}

bool TCPSocket::IsInIOCPThread() {
  return CPSocketManager::CompletionThreadId() == static_cast<std::int64_t>(OS::CurrentThreadId());
}

// --- Creation and direct calls ----------------------------------------------

bool TCPSocket::Create(CPSocketManager* manager) {
  Vek::Assert(static_cast<int>(INVALID_SOCKET) == m_socket.load(), "INVALID_SOCKET == m_socket");
  if (manager == nullptr || manager->WorkerCount() == 0) {
    OS::SetLastError(static_cast<int>(SocketError::NOTINITIALISED));
    return false;
  }
  if (!m_holdsManager) {
    if (!CPSocketManager::Retain(manager)) {
      OS::SetLastError(static_cast<int>(SocketError::NOTINITIALISED));
      return false;
    }
    m_holdsManager = true;
  }
  std::uint32_t error = SocketError::NONE;
  manager->RunOnWorker([&] {
    if (!m_impl) m_impl = std::make_unique<Impl>(manager->Port().GetContext().io);
    std::error_code failure;
    m_impl->socket.open(tcp::v4(), failure);
    error = SystemErrorOf(failure);
    if (!failure) m_socket.store(static_cast<int>(m_impl->socket.native_handle()));
  });
  if (error != SocketError::NONE) {
    OS::SetLastError(static_cast<int>(error));
    return false;
  }
  manager->Associate(*this);
  return true;
}

NolkResult TCPSocket::Bind(const SocketAddress& local, int option) {
  EnterUserland();
  std::uint32_t error = SocketError::NOTSOCK;
  if (CPSocketManager* manager = GetManager()) {
    manager->RunOnWorker([&] {
      if (!m_impl || !m_impl->socket.is_open()) return;
      std::error_code failure;
      // Linux binds exclusively unless address reuse is asked for, so the
      // exclusive-address option needs no call of its own.
      if (option == BIND_REUSE_ADDRESS) {
        m_impl->socket.set_option(tcp::socket::reuse_address(true), failure);
        m_impl->reusesAddress = !failure;
      }
      if (!failure) m_impl->socket.bind(EndpointOf(local), failure);
      if (!failure) {
        const tcp::endpoint bound = m_impl->socket.local_endpoint(failure);
        if (!failure) m_localAddress = AddressOf(bound);
      }
      error = SystemErrorOf(failure);
    });
  }
  LeaveUserland();
  return ResultFromSocketError(error);
}

NolkResult TCPSocket::Listen(int backlog) {
  EnterUserland();
  std::uint32_t error = SocketError::NOTSOCK;
  if (CPSocketManager* manager = GetManager()) {
    manager->RunOnWorker([&] {
      if (!m_impl || !m_impl->socket.is_open()) return;
      auto acceptor = std::make_unique<tcp::acceptor>(manager->Port().GetContext().io);
      std::error_code failure;
      m_impl->MoveBoundSocketInto(*acceptor, failure);
      if (!failure) acceptor->listen(backlog, failure);
      if (!failure) m_socket.store(static_cast<int>(acceptor->native_handle()));
      error = SystemErrorOf(failure);
      m_impl->acceptor = std::move(acceptor);
    });
  }
  LeaveUserland();
  return ResultFromSocketError(error);
}

// The bound socket becomes the acceptor. On Windows asio cannot hand over a
// socket tied to the completion port (it refuses the release before
// Windows 8.1), so there the acceptor is a new socket bound to the address
// the bound one was given, with the same address reuse.
void TCPSocket::Impl::MoveBoundSocketInto(tcp::acceptor& acceptor, std::error_code& failure) {
#ifdef _WIN32
  const tcp::endpoint bound = socket.local_endpoint(failure);
  if (!failure) socket.close(failure);
  if (!failure) acceptor.open(tcp::v4(), failure);
  if (!failure && reusesAddress) acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
  if (!failure) acceptor.bind(bound, failure);
#else
  const auto handle = socket.release(failure);
  if (!failure) acceptor.assign(tcp::v4(), handle, failure);
#endif
}

void TCPSocket::Close() {
  CPSocketManager* manager = GetManager();
  if (manager == nullptr || !m_impl) {
    m_socket.store(INVALID_SOCKET);
    return;
  }
  manager->RunOnWorker([this] { CloseOnWorker(); });
}

void TCPSocket::CloseOnWorker() {
  DisarmInactivityTimer();
  std::error_code ignored;
  // Pending calls are cancelled before the close, so they end as aborted on
  // every system: Wine ends a call whose socket is closed under it with an
  // error of its own instead.
  if (m_impl->acceptor) {
    m_impl->acceptor->cancel(ignored);
    m_impl->acceptor->close(ignored);
  }
  if (m_impl->socket.is_open()) {
    m_impl->socket.cancel(ignored);
    // A zero linger time resets the connection at once instead of waiting
    // for unsent data.
    m_impl->socket.set_option(asio::socket_base::linger(true, 0), ignored);
    m_impl->socket.close(ignored);
  }
  m_socket.store(INVALID_SOCKET);
  m_connectedAtMs.store(-1);
}

NolkResult TCPSocket::Shutdown(int how) {
  std::uint32_t error = SocketError::NOTSOCK;
  if (CPSocketManager* manager = GetManager()) {
    manager->RunOnWorker([&] {
      if (!m_impl || !m_impl->socket.is_open()) return;
      const tcp::socket::shutdown_type type = how == 0   ? tcp::socket::shutdown_receive
                                              : how == 1 ? tcp::socket::shutdown_send
                                                         : tcp::socket::shutdown_both;
      std::error_code failure;
      m_impl->socket.shutdown(type, failure);
      error = SystemErrorOf(failure);
    });
  }
  return ResultFromSocketError(error);
}

int TCPSocket::GetConnectionTime() const {
  const std::int64_t connectedAt = m_connectedAtMs.load();
  if (connectedAt < 0) return -1;
  return static_cast<int>((NowMs() - connectedAt) / 1000);
}

void TCPSocket::MarkConnected() {
  m_connectedAtMs.store(NowMs());
}

// --- The user-thread guard ---------------------------------------------------

void TCPSocket::EnterUserland() {
  Vek::Assert(IsInUserlandThread(), "IsInUserlandThread()");
  const std::int64_t myThreadID = OS::CurrentThreadId();
  const std::int64_t wasThreadID = m_currentUserlandThread.exchange(myThreadID);
  Vek::Assert(wasThreadID == -1 || wasThreadID == myThreadID,
              "wasThreadID == -1 || wasThreadID == myThreadID");
  ++m_userHoldCount;
}

void TCPSocket::LeaveUserland() {
  Vek::Assert(m_currentUserlandThread.load() == static_cast<std::int64_t>(OS::CurrentThreadId()),
              "m_currentUserlandThread == ::GetCurrentThreadId()");
  const int count = --m_userHoldCount;
  Vek::Assert(count >= 0, "count >= 0");
  if (count == 0) m_currentUserlandThread.store(-1);
}

// --- User requests -----------------------------------------------------------

void TCPSocket::PostOperation(IOOperation& operation) {
  operation.SetState(IOOperation::STATE_POSTED);
  CPSocketManager* manager = GetManager();
  if (manager == nullptr) {
    // A socket that was never bound to a port cannot take the request; it
    // fails at once rather than leaving its waiter for ever.
    operation.SetState(IOOperation::STATE_FAILEDPOST);
    Finish(operation, SocketError::NOTSOCK);
    operation.Signal();
    return;
  }
  manager->Port().PostCompletion(operation, 0, SocketError::NONE);
}

void TCPSocket::StartConnect(const SocketAddress& remote, IOOperation& operation) {
  EnterUserland();
  m_remoteAddress = remote;
  operation.m_handler = this;
  operation.m_operation = IOOperation::IO_TCP_StartConnect;
  PostOperation(operation);
  LeaveUserland();
}

void TCPSocket::StartRead(IOOperation& operation) {
  EnterUserland();
  operation.m_handler = this;
  operation.m_operation = IOOperation::IO_TCP_StartRead;
  operation.m_lastTransfer = 0;
  PostOperation(operation);
  LeaveUserland();
}

void TCPSocket::StartWrite(IOOperation& operation) {
  EnterUserland();
  operation.m_handler = this;
  operation.m_operation = IOOperation::IO_TCP_StartWrite;
  operation.m_lastTransfer = 0;
  PostOperation(operation);
  LeaveUserland();
}

void TCPSocket::StartDisconnect(IOOperation& operation) {
  operation.m_handler = this;
  operation.m_operation = IOOperation::IO_TCP_StartDisconnect;
  PostOperation(operation);
}

void TCPSocket::StartAccept(TCPSocket& listening, IOOperation& operation) {
  EnterUserland();
  m_listening = &listening;
  operation.m_handler = this;
  operation.m_operation = IOOperation::IO_TCP_StartAccept;
  PostOperation(operation);
  LeaveUserland();
}

// --- The worker side ---------------------------------------------------------

void TCPSocket::OnCompletion(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  Vek::Assert(operation.m_operation == IOOperation::IO_TCP_StartDisconnect ||
                  operation.m_operation == IOOperation::IO_TCP_Disconnect ||
                  IsUserlandSocketOperationInProgress(),
              "operation.m_operation == IOOperation::IO_TCP_StartDisconnect || operation.m_operation == "
              "IOOperation::IO_TCP_Disconnect || IsUserlandSocketOperationInProgress()");
  Vek::Assert(IOOperation::IO_TCP_Invalid != operation.m_operation,
              "IOOperation::IO_TCP_Invalid != operation.m_operation");
  Vek::Assert(nullptr != GetManager(), "NULL != GetManager()");
  bool finished = false;
  switch (operation.m_operation) {
    case IOOperation::IO_TCP_StartAccept:
    case IOOperation::IO_TCP_Accept:
      finished = AcceptResponse(operation, systemError);
      break;
    case IOOperation::IO_TCP_Read:
    case IOOperation::IO_TCP_StartRead:
      finished = RecvResponse(operation, systemError);
      break;
    case IOOperation::IO_TCP_Write:
    case IOOperation::IO_TCP_StartWrite:
      finished = SendResponse(operation, systemError);
      break;
    case IOOperation::IO_TCP_StartDisconnect:
    case IOOperation::IO_TCP_Disconnect:
      finished = DisconnectResponse(operation, systemError);
      break;
    case IOOperation::IO_TCP_StartConnect:
    case IOOperation::IO_TCP_Connect:
      finished = ConnectResponse(operation, systemError);
      break;
    default:
      return;
  }
  if (finished) operation.Signal();
}

bool TCPSocket::Finish(IOOperation& operation, std::uint32_t systemError) {
  operation.m_error = ResultFromSocketError(systemError);
  operation.m_systemError = systemError;
  return true;
}

bool TCPSocket::ConnectResponse(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  if (systemError == SocketError::NONE && operation.m_error != NOLKRESULT_OK) return true;
  if (systemError == SocketError::NONE && operation.m_operation == IOOperation::IO_TCP_StartConnect) {
    operation.m_operation = IOOperation::IO_TCP_Connect;
    operation.SetState(IOOperation::STATE_POSTED);
    systemError = IssueConnect(operation);
    if (systemError == SocketError::NONE) return false;
    operation.SetState(IOOperation::STATE_FAILEDPOST);
  } else if (systemError == SocketError::NONE && operation.m_operation == IOOperation::IO_TCP_Connect) {
    std::error_code failure;
    const tcp::endpoint local = m_impl->socket.local_endpoint(failure);
    systemError = SystemErrorOf(failure);
    if (!failure) {
      m_localAddress = AddressOf(local);
      MarkConnected();
    }
  }
  return Finish(operation, systemError);
}

bool TCPSocket::RecvResponse(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  Vek::Assert(NOLKRESULT_OK == operation.m_error || SocketError::NONE == systemError,
              "NOLKRESULT_OK == operation.m_error || ERROR_SUCCESS == error");
  operation.m_bytesSoFar += operation.m_lastTransfer;
  if (operation.m_bytesSoFar == operation.m_requestedLength) return true;
  if (operation.m_bytesSoFar > 0 && m_allowPartialReads.load()) operation.m_error = NOLKRESULT_PARTIAL_READ;
  if (operation.m_error != NOLKRESULT_OK) return true;
  if (systemError == SocketError::NONE) {
    if (operation.m_lastTransfer == 0 && operation.m_operation == IOOperation::IO_TCP_Read) {
      operation.m_error = NOLKRESULT_CLOSED;  // the peer closed the connection
      return true;
    }
    operation.m_operation = IOOperation::IO_TCP_Read;
    operation.m_lastTransfer = 0;
    operation.SetState(IOOperation::STATE_POSTED);
    operation.m_buffer.address = operation.m_data + operation.m_bytesSoFar;
    operation.m_buffer.length = operation.m_requestedLength - operation.m_bytesSoFar;
    systemError = IssueReceive(operation);
    if (systemError == SocketError::NONE) return false;
    if (systemError == SocketError::NOBUFS) {
      operation.SetState(IOOperation::STATE_CAUGHT);
      RetryLater(operation, IOOperation::IO_TCP_StartRead, "TCPSocket::RecvResponse> NOBUFS!");
      return false;
    }
    operation.SetState(IOOperation::STATE_FAILEDPOST);
  } else if (systemError == SocketError::NOBUFS) {
    RetryLater(operation, IOOperation::IO_TCP_StartRead, "TCPSocket::RecvResponse> NOBUFS!");
    return false;
  }
  return Finish(operation, systemError);
}

bool TCPSocket::SendResponse(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  operation.m_bytesSoFar += operation.m_lastTransfer;
  if (operation.m_bytesSoFar == operation.m_requestedLength || operation.m_error != NOLKRESULT_OK)
    return true;
  if (systemError == SocketError::NONE) {
    operation.m_operation = IOOperation::IO_TCP_Write;
    operation.m_lastTransfer = 0;
    operation.SetState(IOOperation::STATE_POSTED);
    operation.m_buffer.address = operation.m_data + operation.m_bytesSoFar;
    operation.m_buffer.length = operation.m_requestedLength - operation.m_bytesSoFar;
    systemError = IssueSend(operation);
    if (systemError == SocketError::NONE) return false;
    if (systemError == SocketError::NOBUFS) {
      operation.SetState(IOOperation::STATE_CAUGHT);
      RetryLater(operation, IOOperation::IO_TCP_StartWrite, "TCPSocket::SendResponse> NOBUFS!");
      return false;
    }
    operation.SetState(IOOperation::STATE_FAILEDPOST);
  } else if (systemError == SocketError::NOBUFS) {
    RetryLater(operation, IOOperation::IO_TCP_StartWrite, "TCPSocket::SendResponse> NOBUFS!");
    return false;
  }
  return Finish(operation, systemError);
}

bool TCPSocket::DisconnectResponse(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  if (operation.m_error != NOLKRESULT_OK) return true;
  if (operation.m_operation != IOOperation::IO_TCP_Disconnect && systemError == SocketError::NONE) {
    operation.m_operation = IOOperation::IO_TCP_Disconnect;
    operation.SetState(IOOperation::STATE_POSTED);
    systemError = IssueDisconnect(operation);
    if (systemError == SocketError::NONE) return false;
    operation.SetState(IOOperation::STATE_FAILEDPOST);
  }
  return Finish(operation, systemError);
}

bool TCPSocket::AcceptResponse(IOOperation& operation, std::uint32_t systemError) {
  Vek::Assert(IsInIOCPThread(), "IsInIOCPThread()");
  if (operation.m_error != NOLKRESULT_OK) {
    m_listening = nullptr;
    return true;
  }
  if (systemError == SocketError::NONE && operation.m_operation == IOOperation::IO_TCP_StartAccept) {
    operation.m_operation = IOOperation::IO_TCP_Accept;
    operation.SetState(IOOperation::STATE_POSTED);
    systemError = IssueAccept(operation);
    if (systemError == SocketError::NONE) return false;
    operation.SetState(IOOperation::STATE_FAILEDPOST);
  } else if (systemError == SocketError::NONE && operation.m_operation == IOOperation::IO_TCP_Accept) {
    std::error_code failure;
    const tcp::endpoint local = m_impl->socket.local_endpoint(failure);
    const tcp::endpoint remote = m_impl->socket.remote_endpoint(failure);
    systemError = SystemErrorOf(failure);
    if (!failure) {
      m_localAddress = AddressOf(local);
      m_remoteAddress = AddressOf(remote);
      MarkConnected();
    }
  }
  m_listening = nullptr;
  return Finish(operation, systemError);
}

void TCPSocket::RetryLater(IOOperation& operation, std::int32_t startKind, const char* message) {
  operation.m_operation = startKind;
  operation.m_lastTransfer = 0;
  const std::string line = std::string(message) + "\n";
  OS::Current().WriteStdout(line.data(), line.size());
  OS::Current().Sleep(0);
  PostOperation(operation);
}

// --- Asynchronous calls ------------------------------------------------------

void TCPSocket::Completed(IOOperation& operation, std::size_t bytes, std::uint32_t systemError) {
  --m_impl->outstanding;
  if (systemError == SocketError::OPERATION_ABORTED && m_impl->timedOut) systemError = SocketError::TIMEDOUT;
  DisarmInactivityTimer();
  IOCompletionPort::Deliver(operation, static_cast<std::uint32_t>(bytes), systemError);
}

void TCPSocket::ArmInactivityTimer() {
  Impl& impl = *m_impl;
  impl.timedOut = false;
  const std::uint64_t generation = ++impl.timerGeneration;
  const std::int64_t timeoutMs = m_inactivityTimeoutMs.load();
  if (timeoutMs <= 0) return;
  impl.timer.expires_after(std::chrono::milliseconds(timeoutMs));
  ++impl.outstanding;
  impl.timer.async_wait([this, generation](const std::error_code& error) {
    --m_impl->outstanding;
    if (error || generation != m_impl->timerGeneration) return;
    m_impl->timedOut = true;
    std::error_code ignored;
    m_impl->socket.cancel(ignored);
  });
}

void TCPSocket::DisarmInactivityTimer() {
  ++m_impl->timerGeneration;
  m_impl->timer.cancel();
}

std::uint32_t TCPSocket::IssueConnect(IOOperation& operation) {
  if (!m_impl->socket.is_open()) return SocketError::NOTSOCK;
  ArmInactivityTimer();
  ++m_impl->outstanding;
  IOOperation* record = &operation;
  m_impl->socket.async_connect(EndpointOf(m_remoteAddress), [this, record](const std::error_code& error) {
    Completed(*record, 0, SystemErrorOf(error));
  });
  return SocketError::NONE;
}

std::uint32_t TCPSocket::IssueReceive(IOOperation& operation) {
  if (!m_impl->socket.is_open()) return SocketError::NOTSOCK;
  ArmInactivityTimer();
  ++m_impl->outstanding;
  IOOperation* record = &operation;
  m_impl->socket.async_read_some(asio::buffer(operation.m_buffer.address, operation.m_buffer.length),
                                 [this, record](const std::error_code& error, std::size_t bytes) {
                                   Completed(*record, bytes, SystemErrorOf(error));
                                 });
  return SocketError::NONE;
}

std::uint32_t TCPSocket::IssueSend(IOOperation& operation) {
  if (!m_impl->socket.is_open()) return SocketError::NOTSOCK;
  ArmInactivityTimer();
  ++m_impl->outstanding;
  IOOperation* record = &operation;
  m_impl->socket.async_write_some(asio::buffer(operation.m_buffer.address, operation.m_buffer.length),
                                  [this, record](const std::error_code& error, std::size_t bytes) {
                                    Completed(*record, bytes, SystemErrorOf(error));
                                  });
  return SocketError::NONE;
}

// A graceful disconnect: the send side is shut down (the peer sees the end
// of the stream), the socket closed, and a fresh one opened in its place so
// the object can connect again, as Windows' disconnect with socket reuse
// allows.
std::uint32_t TCPSocket::IssueDisconnect(IOOperation& operation) {
  Impl& impl = *m_impl;
  if (!impl.socket.is_open()) return SocketError::NOTSOCK;
  DisarmInactivityTimer();
  std::error_code failure;
  impl.socket.shutdown(tcp::socket::shutdown_send, failure);
  if (failure) return SystemErrorOf(failure);
  impl.socket.close(failure);
  impl.socket.open(tcp::v4(), failure);
  m_socket.store(failure ? INVALID_SOCKET : static_cast<int>(impl.socket.native_handle()));
  m_connectedAtMs.store(-1);
  GetManager()->Port().PostCompletion(operation, 0, SocketError::NONE);
  return SocketError::NONE;
}

std::uint32_t TCPSocket::IssueAccept(IOOperation& operation) {
  if (m_listening == nullptr || !m_listening->m_impl || !m_listening->m_impl->acceptor)
    return SocketError::INVAL;
  // The connection arrives in a fresh socket.
  std::error_code ignored;
  m_impl->socket.close(ignored);
  m_socket.store(INVALID_SOCKET);
  ++m_impl->outstanding;
  IOOperation* record = &operation;
  m_listening->m_impl->acceptor->async_accept(m_impl->socket, [this, record](const std::error_code& error) {
    if (!error) m_socket.store(static_cast<int>(m_impl->socket.native_handle()));
    Completed(*record, 0, SystemErrorOf(error));
  });
  return SocketError::NONE;
}
