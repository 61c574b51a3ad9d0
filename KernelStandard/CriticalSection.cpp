#include "KernelStandard/CriticalSection.h"

namespace Vek {

bool CriticalSection::Lock(int) {
  m_section->lock();
  return true;
}

bool CriticalSection::Unlock() {
  m_section->unlock();
  return true;
}

}  // namespace Vek
