// A program run on a pseudo-terminal of its own, as from an interactive
// shell: the terminal is its controlling terminal and it is the foreground
// process group, so typing the interrupt character makes the terminal send
// SIGINT to that group, exactly as a real Ctrl-C does. The output (both
// streams, as the terminal shows them) is collected while waiting. The
// process group is killed and reaped when the session ends, also when a
// test fails half way.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace app_test {

class PtySession {
 public:
  PtySession() = default;
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Starts `program` with the arguments and exactly the given environment
  // ("NAME=value" entries). False when the terminal or the process cannot
  // be made.
  bool Start(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment);

  // Collects output until the condition holds or the time is up; true
  // when it held.
  bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);
  bool WaitForOutput(const std::string& text, int timeoutMs);
  // Types the terminal's interrupt character (Ctrl-C).
  bool TypeInterrupt();
  // Waits for the program's end, collecting output: its exit code, or 128
  // plus the signal that ended it; nothing when the time ran out.
  std::optional<int> WaitForExit(int timeoutMs);

  // Everything shown so far, with the terminal's "\r\n" line ends turned
  // into "\n".
  std::string Output() const;
  bool Shows(const std::string& text) const { return Output().find(text) != std::string::npos; }

 private:
  // Reads what is there, waiting at most `waitMs` for something to come;
  // false when nothing came.
  bool Collect(int waitMs);
  bool ReapIfEnded();

  int m_terminal = -1;
  pid_t m_pid = -1;
  std::optional<int> m_exitCode;
  std::string m_output;
};

// The test program's own environment without the given variables, with the
// given assignments added (they replace variables of the same name).
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& assignments,
                                         const std::vector<std::string>& removed = {});

}  // namespace app_test
