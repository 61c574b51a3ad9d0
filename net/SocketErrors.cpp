#include "net/SocketErrors.h"

NolkResult ResultFromSocketError(std::uint32_t systemError) {
  using namespace SocketError;
  switch (systemError) {
    case NONE:
      return NOLKRESULT_OK;
    case NETNAME_DELETED:
    case WSAENETDOWN:
    case WSAENETUNREACH:
    case WSAECONNRESET:
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
      return NOLKRESULT_CONNECTION_LOST;
    case OPERATION_ABORTED:
      return NOLKRESULT_CLOSED;
    case WSAEFAULT:
    case WSAEAFNOSUPPORT:
    case WSAEADDRNOTAVAIL:
      return NOLKRESULT_BAD_ARGUMENT;
    case WSAEINVAL:
    case WSAEALREADY:
    case WSAENOTSOCK:
    case WSANOTINITIALISED:
      return NOLKRESULT_NOT_OPEN;
    case WSAECONNREFUSED:
      return NOLKRESULT_REFUSED;
    default:
      return NOLKRESULT_SOCKET_ERROR;
  }
}
