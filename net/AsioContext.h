// The asio side of the completion port, for the files of the socket layer
// that issue asynchronous calls. Only net/ includes asio.
#pragma once

#include <asio.hpp>

#include "net/IOCompletionPort.h"

struct IOCompletionPort::Context {
  explicit Context(int concurrency) : io(concurrency), work(asio::make_work_guard(io)) {}

  asio::io_context io;
  // Keeps the worker waiting while nothing is queued.
  asio::executor_work_guard<asio::io_context::executor_type> work;
  // Set by a quit packet; read by the worker after each packet.
  bool quit = false;
};
