// Winsock 2.2 for the sockets and the internet client.
#include <winsock2.h>

#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {

bool Win32Platform::StartNetwork() {
  WSADATA data;
  const int error = ::WSAStartup(MAKEWORD(2, 2), &data);
  return error == 0 || FailWith(error);
}

}  // namespace OS
