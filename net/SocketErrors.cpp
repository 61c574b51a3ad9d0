#include "net/SocketErrors.h"

NolkResult ResultFromSocketError(std::uint32_t systemError) {
  using namespace SocketError;
  switch (systemError) {
    case NONE:
      return NOLKRESULT_OK;
    case NETNAME_DELETED:
    case NETDOWN:
    case NETUNREACH:
    case CONNRESET:
    case TIMEDOUT:
    case HOSTUNREACH:
      return NOLKRESULT_CONNECTION_LOST;
    case OPERATION_ABORTED:
      return NOLKRESULT_CLOSED;
    case FAULT:
    case AFNOSUPPORT:
    case ADDRNOTAVAIL:
      return NOLKRESULT_BAD_ARGUMENT;
    case INVAL:
    case ALREADY:
    case NOTSOCK:
    case NOTINITIALISED:
      return NOLKRESULT_NOT_OPEN;
    case CONNREFUSED:
      return NOLKRESULT_REFUSED;
    default:
      return NOLKRESULT_SOCKET_ERROR;
  }
}
