#include "KernelStandard/SyncObject.h"

namespace Vek {

bool SyncObject::Lock(int timeoutMs) {
  if (!m_handle) return false;
  return OS::WaitForAny(&m_handle, 1, timeoutMs) == OS::WAIT_OBJECT_0;
}

}  // namespace Vek
