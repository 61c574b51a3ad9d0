// Whether another process is still running.
#pragma once

#include <cstdint>

namespace NolkUtil {

// True exactly when a process with this id exists and has not ended. False
// when no such process can be found (the id is unused, or the process has
// ended, even if its parent has not collected it yet).
bool IsProcessRunning(std::uint32_t processId);

}  // namespace NolkUtil
