// Standard output redirected to a pipe that a parent launcher created for
// this process, so the launcher can collect the program's output. The
// redirection is attempted once, at start-up or at the first log entry,
// whichever comes first.
#pragma once

#include <cstdint>
#include <string>

namespace Vek {

class ConsoleRedirect {
 public:
  // The process-wide object, created on first use.
  static ConsoleRedirect& Instance();
  bool IsRedirected() const { return m_redirected; }

  ConsoleRedirect(const ConsoleRedirect&) = delete;
  ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

 private:
  ConsoleRedirect();
  bool m_redirected;
};

// True when standard output goes to the parent's pipe.
bool IsStdoutRedirected();

// The pipe a parent creates for the process `processId`: "<pid>cout" in the
// system temporary folder (on Windows the named pipe "\\.\pipe\<pid>cout").
std::wstring ParentPipeName(std::uint32_t processId);

}  // namespace Vek
