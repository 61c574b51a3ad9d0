// The BSD socket calls of the scripted test peers, on Windows through
// Winsock: the same calls under their Windows names, and the network stack
// started before the first socket. Elsewhere the POSIX headers alone.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include "KernelStandard/platform/Platform.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif
#ifndef SHUT_RDWR
#define SHUT_RDWR SD_BOTH
#endif

namespace TestSockets {
using ByteCount = int;
inline int OpenStream() {
  static const bool started = OS::Current().StartNetwork();
  (void)started;
  return static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
}
inline void Close(int fd) {
  ::closesocket(static_cast<SOCKET>(fd));
}
// True when the socket has data (or a connection, or its end) within the limit.
inline bool WaitReadable(int fd, int timeoutMs) {
  WSAPOLLFD ready{static_cast<SOCKET>(fd), POLLIN, 0};
  return ::WSAPoll(&ready, 1, timeoutMs) > 0;
}
inline bool LastWasReset() {
  return ::WSAGetLastError() == WSAECONNRESET;
}
// Winsock's receive limit is a count of milliseconds.
inline void SetReceiveTimeout(int fd, int seconds) {
  const DWORD limit = static_cast<DWORD>(seconds) * 1000;
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
}
// Winsock's option calls take the value as bytes.
template <typename T>
inline int SetOption(int fd, int level, int name, const T& value) {
  return ::setsockopt(static_cast<SOCKET>(fd), level, name, reinterpret_cast<const char*>(&value),
                      sizeof value);
}
}  // namespace TestSockets

#else
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSockets {
using ByteCount = ssize_t;
inline int OpenStream() {
  return ::socket(AF_INET, SOCK_STREAM, 0);
}
inline void Close(int fd) {
  ::close(fd);
}
inline bool WaitReadable(int fd, int timeoutMs) {
  pollfd ready{fd, POLLIN, 0};
  return ::poll(&ready, 1, timeoutMs) > 0;
}
template <typename T>
inline int SetOption(int fd, int level, int name, const T& value) {
  return ::setsockopt(fd, level, name, &value, sizeof value);
}
inline bool LastWasReset() {
  return errno == ECONNRESET;
}
inline void SetReceiveTimeout(int fd, int seconds) {
  timeval limit{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}
}  // namespace TestSockets
#endif
