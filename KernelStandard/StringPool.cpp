#include "KernelStandard/StringPool.h"

namespace Vek {

const Alloc::Text* StringPool::Acquire(std::string_view text) {
  CriticalSectionLock lock(m_lock);
  auto found = m_strings.find(text);
  if (found == m_strings.end()) found = m_strings.emplace(Alloc::Text(text), 0).first;
  ++found->second;
  return &found->first;
}

void StringPool::Release(const Alloc::Text* text) {
  if (text == nullptr) return;
  CriticalSectionLock lock(m_lock);
  const auto found = m_strings.find(*text);
  if (found == m_strings.end() || &found->first != text) return;
  if (--found->second == 0) m_strings.erase(found);
}

std::size_t StringPool::Size() {
  CriticalSectionLock lock(m_lock);
  return m_strings.size();
}

}  // namespace Vek
