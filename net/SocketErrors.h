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
  ACCES = 10013,
  FAULT = 10014,
  INVAL = 10022,
  WOULDBLOCK = 10035,
  ALREADY = 10037,
  NOTSOCK = 10038,
  MSGSIZE = 10040,
  AFNOSUPPORT = 10047,
  ADDRINUSE = 10048,
  ADDRNOTAVAIL = 10049,
  NETDOWN = 10050,
  NETUNREACH = 10051,
  NETRESET = 10052,
  CONNABORTED = 10053,
  CONNRESET = 10054,
  NOBUFS = 10055,
  ISCONN = 10056,
  NOTCONN = 10057,
  SHUTDOWN = 10058,
  TIMEDOUT = 10060,
  CONNREFUSED = 10061,
  HOSTUNREACH = 10065,
  NOTINITIALISED = 10093,
  FOREIGN_CODE = 0x20000000u,
};

}  // namespace SocketError

// The result code of a socket operation that ended with this system error:
// 0 for none; 3 connection lost (network name deleted, network down or
// unreachable, reset, timed out, host unreachable); 13 aborted; 5 bad
// address; 7 invalid or not a socket; 12 refused; 11 anything else.
NolkResult ResultFromSocketError(std::uint32_t systemError);
