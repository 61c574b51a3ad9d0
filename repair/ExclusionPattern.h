// Exclusion patterns of the installation scan: a relative name is excluded
// when it matches a pattern. Matching is case-sensitive, character by
// character, and '*' matches any run of characters, none included, path
// separators included. There is no other wildcard.
#pragma once

#include <set>
#include <string>

namespace NolkUtil {

bool MatchesExclusionPattern(const std::wstring& name, const std::wstring& pattern);
bool MatchesAnyExclusionPattern(const std::wstring& name, const std::set<std::wstring>& patterns);

}  // namespace NolkUtil
