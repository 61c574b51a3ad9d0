// IOCompletionPort: the queue of completion packets that the socket
// manager's worker thread takes one at a time. On Windows this is an I/O
// completion port; here it is an asio io_context run only by the worker:
// every finished asynchronous socket call and every posted request arrives
// as one handler, and the worker runs one handler per packet.
//
// A packet names an operation (the record of the request), the bytes it
// moved and the system error it ended with; the worker delivers it to the
// operation's handler. A quit packet ends the worker's loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class IOOperation;

class IOCompletionPort {
 public:
  // concurrency: the number of worker threads that take packets.
  explicit IOCompletionPort(int concurrency);
  ~IOCompletionPort();
  IOCompletionPort(const IOCompletionPort&) = delete;
  IOCompletionPort& operator=(const IOCompletionPort&) = delete;

  // Queues a packet for the operation.
  void PostCompletion(IOOperation& operation, std::uint32_t bytes, std::uint32_t systemError);
  void PostQuit();
  // Queues work that must run on the worker (socket calls made for a user
  // thread).
  void PostWork(std::function<void()> work);

  // Worker loop step: waits for the next packet and handles it; false when
  // it was a quit packet.
  bool HandleNextPacket();

  // Hands a packet to its operation's handler: the operation is caught,
  // its byte count stored, and the handler's OnCompletion called.
  static void Deliver(IOOperation& operation, std::uint32_t bytes, std::uint32_t systemError);

  // The asio side, for the socket implementation (AsioContext.h).
  struct Context;
  Context& GetContext() { return *m_context; }

 private:
  std::unique_ptr<Context> m_context;
};
