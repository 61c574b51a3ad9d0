#include "repair/SafeRelativeName.h"

#include <cstdint>

#include "repair/SegmentKey.h"

namespace NolkUtil {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool IsForbiddenCharacter(wchar_t c) {
  // Unsigned, as wchar_t is unsigned on Windows and signed elsewhere.
  return static_cast<std::uint32_t>(c) < 32 || c == L':';
}

// A component that Windows resolves away: only dots and spaces, "." aside.
bool IsResolvedAwayComponent(const std::wstring& component) {
  if (component.empty() || component == L".") return false;
  return component.find_first_not_of(L". ") == std::wstring::npos;
}

}  // namespace

bool IsSafeRelativeName(const std::wstring& path) {
  if (path.empty() || IsSeparator(path.front())) return false;
  std::wstring component;
  for (const wchar_t c : path) {
    if (IsForbiddenCharacter(c)) return false;
    if (!IsSeparator(c)) {
      component.push_back(c);
      continue;
    }
    if (IsResolvedAwayComponent(component)) return false;
    component.clear();
  }
  return !IsResolvedAwayComponent(component);
}

bool IsSafeSegmentKey(const std::wstring& nameKey) {
  const SegmentKeyParts parts = SplitSegmentKey(nameKey);
  if (!parts.wellFormed || parts.path.empty() || IsSeparator(parts.path.back())) return false;
  return IsSafeRelativeName(parts.path);
}

}  // namespace NolkUtil
