#include "KernelStandard/ProcessQuery.h"

#include "KernelStandard/platform/Platform.h"

namespace NolkUtil {

bool IsProcessRunning(std::uint32_t processId) {
  return OS::Current().IsProcessRunning(processId);
}

}  // namespace NolkUtil
