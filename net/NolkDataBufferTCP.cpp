#include "net/NolkDataBufferTCP.h"

#include "KernelStandard/KernelObjects.h"
#include "net/CPSocketManager.h"
#include "net/IOOperation.h"

namespace {

constexpr int kWorkerCount = 1;

}  // namespace

NolkDataBufferTCP::NolkDataBufferTCP() : m_manager(CPSocketManager::AddRef(kWorkerCount)) {
  auto socket = std::make_unique<TCPSocket>();
  socket->SetCreatorThread(OS::CurrentThreadId());
  if (socket->Create(m_manager)) m_socket = std::move(socket);
}

NolkDataBufferTCP::NolkDataBufferTCP(std::unique_ptr<TCPSocket> socket)
    : m_socket(std::move(socket)), m_manager(CPSocketManager::AddRef(kWorkerCount)) {}

NolkDataBufferTCP::~NolkDataBufferTCP() {
  if (m_socket) {
    m_socket->Close();
    m_socket.reset();
  }
  CPSocketManager::Release();
}

bool NolkDataBufferTCP::IsConnected() const {
  return m_socket != nullptr && m_connected.load();
}

void NolkDataBufferTCP::SetInactivityTimeout(std::chrono::milliseconds timeout) {
  if (m_socket) m_socket->SetInactivityTimeout(timeout);
}

NolkResult NolkDataBufferTCP::Connect(const SocketAddress& address) {
  if (!m_socket || m_connected.load()) return NOLKRESULT_NOT_OPEN;
  // A socket that was bound for an earlier attempt (refused, lost or
  // disconnected since) cannot be bound again: start over with a fresh one.
  if (m_connectAttempted) {
    Vek::CriticalSectionLock lock(m_lock);
    m_socket->Close();
    if (!m_socket->Create(m_manager)) return NOLKRESULT_NOT_OPEN;
  }
  m_connectAttempted = true;
  const NolkResult bound = m_socket->Bind(SocketAddress{SocketAddress::kAny, 0}, TCPSocket::BIND_PLAIN);
  if (bound != NOLKRESULT_OK) return bound;
  IOOperation operation;
  m_socket->EnterUserland();
  {
    Vek::CriticalSectionLock lock(m_lock);
    m_socket->StartConnect(address, operation);
  }
  operation.Wait();
  m_socket->LeaveUserland();
  if (operation.m_error == NOLKRESULT_OK) m_connected.store(true);
  return operation.m_error;
}

NolkResult NolkDataBufferTCP::Disconnect(bool abortive) {
  m_connected.store(false);
  if (!m_socket) return NOLKRESULT_NOT_OPEN;
  if (abortive) {
    Vek::CriticalSectionLock lock(m_lock);
    m_socket->Close();
    return NOLKRESULT_OK;
  }
  IOOperation operation;
  {
    Vek::CriticalSectionLock lock(m_lock);
    m_socket->StartDisconnect(operation);
  }
  operation.Wait();
  return operation.m_error;
}

NolkResult NolkDataBufferTCP::WriteData(const void* data, std::uint32_t length) {
  return Transfer(Request::Write, const_cast<void*>(data), length);
}

NolkResult NolkDataBufferTCP::ReadData(void* data, std::uint32_t length) {
  return Transfer(Request::Read, data, length);
}

NolkResult NolkDataBufferTCP::Transfer(Request request, void* data, std::uint32_t length) {
  if (!m_socket) return NOLKRESULT_NOT_OPEN;
  if (length == 0) return NOLKRESULT_OK;
  if (data == nullptr) return NOLKRESULT_BAD_ARGUMENT;
  IOOperation operation;
  operation.SetData(data, length);
  m_socket->EnterUserland();
  {
    Vek::CriticalSectionLock lock(m_lock);
    if (request == Request::Read) {
      m_socket->SetAllowPartialReads(m_allowPartialReads);
      m_socket->StartRead(operation);
    } else {
      m_socket->StartWrite(operation);
    }
  }
  operation.Wait();
  m_socket->LeaveUserland();
  if (request == Request::Read &&
      (operation.m_error == NOLKRESULT_OK || operation.m_error == NOLKRESULT_PARTIAL_READ))
    m_received += operation.m_bytesSoFar;
  return operation.m_error;
}
