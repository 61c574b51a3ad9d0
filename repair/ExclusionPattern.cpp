#include "repair/ExclusionPattern.h"

namespace NolkUtil {

// Greedy matching with one back-tracking point: on a mismatch the most
// recent '*' takes one more character. Each star only ever moves forward, so
// the work is bounded by name length times pattern length, and no recursion
// can exhaust the stack on long patterns.
bool MatchesExclusionPattern(const std::wstring& name, const std::wstring& pattern) {
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starInPattern = std::wstring::npos;
  std::size_t starInName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      starInPattern = p++;
      starInName = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (starInPattern != std::wstring::npos) {
      p = starInPattern + 1;
      n = ++starInName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool MatchesAnyExclusionPattern(const std::wstring& name, const std::set<std::wstring>& patterns) {
  for (const std::wstring& pattern : patterns) {
    if (MatchesExclusionPattern(name, pattern)) return true;
  }
  return false;
}

}  // namespace NolkUtil
