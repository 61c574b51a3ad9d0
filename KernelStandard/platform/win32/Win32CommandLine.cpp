#include "KernelStandard/platform/win32/Win32CommandLine.h"

#include "KernelStandard/platform/Platform.h"

namespace OS::Win32CommandLine {

std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each one is doubled
    // and the quote itself gets one more.
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring Join(const std::vector<std::string>& argv) {
  std::wstring line;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (i > 0) line.push_back(L' ');
    line += Quote(FromUtf8(argv[i]));
  }
  return line;
}

}  // namespace OS::Win32CommandLine
