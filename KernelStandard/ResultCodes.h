// Result codes shared by data buffers, sockets, the internet client, the
// package reader and the repair client. 0 is success; each subsystem gives
// the other values their meaning in its own setting.
#pragma once

#include <cstdint>

using NolkResult = std::int32_t;

enum : NolkResult {
  NOLKRESULT_OK = 0,
  NOLKRESULT_NOT_ALLOWED = 1,        // not allowed by the access mode; cannot resize
  NOLKRESULT_FILE_ERROR = 2,         // file operation failed; path not found
  NOLKRESULT_CONNECTION_LOST = 3,
  NOLKRESULT_CANNOT_LIST = 4,        // a folder could not be opened for listing
  NOLKRESULT_BAD_ARGUMENT = 5,
  NOLKRESULT_NOT_SUPPORTED = 6,
  NOLKRESULT_NOT_OPEN = 7,           // not open, or busy
  NOLKRESULT_END_OF_DATA = 8,
  NOLKRESULT_NO_ROOM = 9,            // no room, no memory, (de)compression failure
  NOLKRESULT_WRONG_FORMAT = 10,      // wrong protocol or format
  NOLKRESULT_SOCKET_ERROR = 11,
  NOLKRESULT_REFUSED = 12,
  NOLKRESULT_CLOSED = 13,            // closed or aborted
  NOLKRESULT_PARTIAL_READ = 14,
};
