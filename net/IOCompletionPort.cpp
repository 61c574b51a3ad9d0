#include "net/IOCompletionPort.h"

#include "KernelStandard/Assert.h"
#include "net/AsioContext.h"
#include "net/CPHandler.h"
#include "net/IOOperation.h"

IOCompletionPort::IOCompletionPort(int concurrency) : m_context(std::make_unique<Context>(concurrency)) {
  Vek::Assert(m_context != nullptr, "iocpHandle != INVALID_HANDLE_VALUE");
}

// Packets still queued are dropped with the context (nothing waits for
// them: the manager is destroyed only after every socket).
IOCompletionPort::~IOCompletionPort() = default;

void IOCompletionPort::PostCompletion(IOOperation& operation, std::uint32_t bytes,
                                      std::uint32_t systemError) {
  IOOperation* record = &operation;
  asio::post(m_context->io, [record, bytes, systemError] { Deliver(*record, bytes, systemError); });
}

void IOCompletionPort::PostQuit() {
  Context* context = m_context.get();
  asio::post(context->io, [context] { context->quit = true; });
}

void IOCompletionPort::PostWork(std::function<void()> work) {
  asio::post(m_context->io, std::move(work));
}

bool IOCompletionPort::HandleNextPacket() {
  m_context->quit = false;
  if (m_context->io.run_one() == 0) return false;
  return !m_context->quit;
}

void IOCompletionPort::Deliver(IOOperation& operation, std::uint32_t bytes, std::uint32_t systemError) {
  CPHandler* handler = operation.m_handler;
  Vek::Assert(handler != nullptr, "handler != NULL");
  operation.SetState(IOOperation::STATE_CAUGHT);
  operation.m_lastTransfer = bytes;
  handler->OnCompletion(operation, systemError);
}
