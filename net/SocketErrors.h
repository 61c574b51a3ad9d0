// The socket layer's system error codes and their result codes.
//
// System errors are kept in their Windows (Winsock) numbering on every
// platform, so logs and callers see the same numbers everywhere; the POSIX
// side translates its errors into them. An error without a Winsock number
// is reported as 0x20000000 | the native code (the bit Windows reserves for
// codes defined outside the system).
#pragma once

#include <cstdint>

#include "KernelStandard/ResultCodes.h"

namespace SocketError {

enum : std::uint32_t {
  NONE = 0,
  NETNAME_DELETED = 64,
  OPERATION_ABORTED = 995,
  IO_PENDING = 997,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEWOULDBLOCK = 10035,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEMSGSIZE = 10040,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAEHOSTUNREACH = 10065,
  WSANOTINITIALISED = 10093,
  FOREIGN_CODE = 0x20000000u,
};

}  // namespace SocketError

// The result code of a socket operation that ended with this system error:
// 0 for none; 3 connection lost (network name deleted, network down or
// unreachable, reset, timed out, host unreachable); 13 aborted; 5 bad
// address; 7 invalid or not a socket; 12 refused; 11 anything else.
NolkResult ResultFromSocketError(std::uint32_t systemError);
