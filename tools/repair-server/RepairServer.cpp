#include "tools/repair-server/RepairServer.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "KernelStandard/OSThread.h"
#include "tools/repair-server/RepairSession.h"
#include "tools/repair-server/ServerLog.h"

namespace KorvelRepairServer {
namespace {

// One more thread of the pool.
class PoolThread : public OS::Thread {
 public:
  explicit PoolThread(std::function<void()> body) : m_body(std::move(body)) {}
  int Run() override {
    m_body();
    return 0;
  }

 private:
  std::function<void()> m_body;
};

}  // namespace

RepairServer::RepairServer(const ReferenceIndex& reference, ListenOptions options)
    : m_reference(reference),
      m_options(std::move(options)),
      m_acceptor(m_context),
      m_signals(m_context, SIGINT, SIGTERM) {}

unsigned RepairServer::ThreadCount() const {
  if (m_options.threads != 0) return m_options.threads;
  return std::max(1u, std::thread::hardware_concurrency());
}

bool RepairServer::Listen(std::string& error) {
  asio::error_code failure;
  const auto address = asio::ip::make_address(m_options.bindAddress, failure);
  if (failure) {
    error = "bad address " + m_options.bindAddress;
    return false;
  }
  const asio::ip::tcp::endpoint endpoint(address, m_options.port);
  m_acceptor.open(endpoint.protocol(), failure);
  if (!failure) m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), failure);
  if (!failure) m_acceptor.bind(endpoint, failure);
  if (!failure) m_acceptor.listen(asio::socket_base::max_listen_connections, failure);
  if (failure) {
    error = "cannot listen on " + m_options.bindAddress + ":" + std::to_string(m_options.port) + " (" +
            failure.message() + ")";
    return false;
  }
  m_port = m_acceptor.local_endpoint(failure).port();
  return true;
}

void RepairServer::Accept() {
  // Each connection gets a strand of its own: its steps never run at once,
  // while other sessions proceed on the other threads.
  m_acceptor.async_accept(
      asio::make_strand(m_context), [this](asio::error_code error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error)
          std::make_shared<RepairSession>(std::move(socket), m_reference, m_options.idleLimit)->Start();
        else
          LogLine("accept failed: " + error.message());
        Accept();
      });
}

void RepairServer::RunContext() {
  // A session that fails in a way no handler expects (memory exhausted, say)
  // costs that session only; the thread goes back to serving the others.
  for (;;) {
    try {
      m_context.run();
      return;
    } catch (const std::exception& failure) {
      LogLine(std::string("session failed: ") + failure.what());
    }
  }
}

void RepairServer::Run() {
  m_signals.async_wait([this](const asio::error_code& error, int signal) {
    if (error) return;
    LogLine("stopping on signal " + std::to_string(signal));
    Stop();
  });
  Accept();
  std::vector<std::unique_ptr<PoolThread>> pool;
  for (unsigned i = 1; i < ThreadCount(); ++i) {
    pool.push_back(std::make_unique<PoolThread>([this] { RunContext(); }));
    if (!pool.back()->Start()) pool.pop_back();
  }
  RunContext();
  for (auto& thread : pool) thread->Wait();
}

void RepairServer::Stop() {
  asio::post(m_context, [this] {
    asio::error_code ignored;
    m_acceptor.close(ignored);
    m_signals.cancel(ignored);
    m_context.stop();
  });
}

}  // namespace KorvelRepairServer
