// Copying between buffers through the NolkDataBuffer interface.
#pragma once

#include <cstdint>
#include <string>

#include "stream/NolkDataBuffer.h"

// Copies count bytes from the source's position to the destination's
// position, in passes of at most 128 KiB. The first failing ReadData or
// WriteData ends the copy and its code is returned; 9 when the transfer
// buffer cannot be allocated.
NolkResult CopyData(NolkDataBuffer& destination, NolkDataBuffer& source, std::uint64_t count);

// Copies everything from the source's position to its end.
NolkResult CopyRest(NolkDataBuffer& destination, NolkDataBuffer& source);

// Reads everything from the source's position to its end in one ReadData
// into text, and returns the read's result. On a short read text holds the
// bytes that were read. 9 when the rest does not fit in one read (4 GiB) or
// in memory.
NolkResult ReadRestToString(std::string& text, NolkDataBuffer& source);
