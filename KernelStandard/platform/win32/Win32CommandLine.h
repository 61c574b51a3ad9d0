// Builds the command line CreateProcessW gets from an argument list.
#pragma once

#include <string>
#include <vector>

namespace OS::Win32CommandLine {

// Joins the arguments with blanks so that the C runtime's splitting
// (SplitCommandLine) gives them back unchanged. An argument is quoted only
// when it is empty or holds a blank, a tab or a double quote, so plain
// command lines stay exactly as they are written; inside quotes, a double
// quote and the backslashes before it or before the closing quote are
// escaped with backslashes. Arguments are UTF-8.
std::wstring Join(const std::vector<std::string>& argv);
// One argument in the form above.
std::wstring Quote(const std::wstring& argument);

}  // namespace OS::Win32CommandLine
