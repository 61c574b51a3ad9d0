// Helpers of the socket tests: a scripted peer on 127.0.0.1 (plain BSD
// sockets, independent of the code under test), a one-shot signal between
// threads, and a scoped reference on the socket manager.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/CPSocketManager.h"
#include "net/SocketAddress.h"
#include "test_sockets.h"

namespace NetTest {

using namespace std::chrono_literals;

// Set once, waited for with a limit.
class Signal {
 public:
  void Set() {
    std::lock_guard lock(m_mutex);
    m_set = true;
    m_changed.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return m_set; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_set = false;
};

// The peer's side of the one connection it accepted.
class PeerConnection {
 public:
  PeerConnection(int fd, const std::atomic<bool>& stopping) : m_fd(fd), m_stopping(stopping) {}

  bool Stopping() const { return m_stopping.load(); }
  int Descriptor() const { return m_fd; }

  void NoDelay() {
    const int on = 1;
    TestSockets::SetOption(m_fd, IPPROTO_TCP, TCP_NODELAY, on);
  }
  bool Send(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
      const TestSockets::ByteCount sent = ::send(m_fd, bytes, length, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes += sent;
      length -= static_cast<std::size_t>(sent);
    }
    return true;
  }
  bool Send(const std::string& text) { return Send(text.data(), text.size()); }
  // Receives up to `length` bytes; 0 at the end of the stream, on a failure
  // or when the peer is told to stop.
  std::size_t ReceiveSome(void* data, std::size_t length) {
    while (!Stopping()) {
      if (!TestSockets::WaitReadable(m_fd, 50)) continue;
      const TestSockets::ByteCount received = ::recv(m_fd, static_cast<char*>(data), length, 0);
      return received > 0 ? static_cast<std::size_t>(received) : 0;
    }
    return 0;
  }
  // Everything up to the end of the stream.
  std::string ReceiveAll(std::size_t chunk = 65536, std::chrono::milliseconds pause = 0ms) {
    std::string all;
    std::vector<char> buffer(chunk);
    while (const std::size_t received = ReceiveSome(buffer.data(), buffer.size())) {
      all.append(buffer.data(), received);
      if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
    return all;
  }
  // Waits until the other side has closed (or the peer stops).
  void WaitForEnd() {
    char byte;
    while (ReceiveSome(&byte, 1) > 0) {
    }
  }
  // Resets the connection instead of closing it in order.
  void Reset() {
    const linger abort{1, 0};
    TestSockets::SetOption(m_fd, SOL_SOCKET, SO_LINGER, abort);
    TestSockets::Close(m_fd);
    m_fd = -1;
  }
  void CloseInOrder() {
    TestSockets::Close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
  const std::atomic<bool>& m_stopping;
};

// Listens on a free port of 127.0.0.1 and runs the script on its own thread
// with the first connection. The destructor stops the peer (its waits end)
// and joins the thread, also when a test failed half-way.
class TestPeer {
 public:
  using Script = std::function<void(PeerConnection&)>;

  explicit TestPeer(Script script, int receiveBuffer = 0) : m_script(std::move(script)) {
    m_listener = TestSockets::OpenStream();
    if (receiveBuffer > 0) TestSockets::SetOption(m_listener, SOL_SOCKET, SO_RCVBUF, receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 4);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~TestPeer() {
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    const int connection = m_connection.load();
    if (connection >= 0) ::shutdown(connection, SHUT_RDWR);
    m_thread.join();
    TestSockets::Close(m_listener);
  }
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  SocketAddress Address() const { return SocketAddress{SocketAddress::kLoopback, m_port}; }
  // Waits until the script has returned.
  bool WaitUntilDone(std::chrono::milliseconds limit = 20s) { return m_done.WaitFor(limit); }

 private:
  void Serve() {
    const int fd = Accept();
    if (fd >= 0) {
      m_connection = fd;
      PeerConnection connection(fd, m_stopping);
      m_script(connection);
      m_connection = -1;
      if (connection.Descriptor() >= 0) TestSockets::Close(connection.Descriptor());
    }
    m_done.Set();
  }
  int Accept() {
    for (int waited = 0; waited < 20000 && !m_stopping; waited += 50) {
      if (TestSockets::WaitReadable(m_listener, 50))
        return static_cast<int>(::accept(m_listener, nullptr, nullptr));
    }
    return -1;
  }

  Script m_script;
  int m_listener = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_connection{-1};
  Signal m_done;
  std::thread m_thread;
};

// A loopback port where nothing listens: bound once and released again.
inline SocketAddress ClosedPort() {
  const int fd = TestSockets::OpenStream();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  TestSockets::Close(fd);
  return SocketAddress{SocketAddress::kLoopback, ntohs(address.sin_port)};
}

// A reference on the socket manager for the lifetime of a test.
class ManagerReference {
 public:
  ManagerReference() : m_manager(CPSocketManager::AddRef(1)) {}
  ~ManagerReference() { CPSocketManager::Release(); }
  ManagerReference(const ManagerReference&) = delete;
  ManagerReference& operator=(const ManagerReference&) = delete;
  CPSocketManager* operator->() const { return m_manager; }
  CPSocketManager* get() const { return m_manager; }

 private:
  CPSocketManager* m_manager;
};

// Bytes that differ from position to position, to catch reordering.
inline std::string PatternBytes(std::size_t length, unsigned seed = 1) {
  std::string bytes(length, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace NetTest
