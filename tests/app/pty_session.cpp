#include "pty_session.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace app_test {
namespace {

constexpr int kPollSliceMs = 20;

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string NameOf(const std::string& assignment) {
  return assignment.substr(0, assignment.find('='));
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& assignments,
                                         const std::vector<std::string>& removed) {
  std::vector<std::string> names = removed;
  for (const std::string& assignment : assignments) names.push_back(NameOf(assignment));
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& name : names) replaced = replaced || NameOf(text) == name;
    if (!replaced) environment.push_back(text);
  }
  environment.insert(environment.end(), assignments.begin(), assignments.end());
  return environment;
}

PtySession::~PtySession() {
  if (m_pid > 0 && !m_exitCode) {
    ::kill(-m_pid, SIGKILL);  // the program leads its own session and group
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (m_terminal >= 0) ::close(m_terminal);
}

// Everything the child needs is prepared before the fork: between fork and
// exec only async-signal-safe calls are allowed (the test is threaded).
bool PtySession::Start(const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = environment;
  std::vector<char*> argPointers = Pointers(argv);
  std::vector<char*> envPointers = Pointers(envp);
  winsize size{};
  size.ws_row = 40;
  size.ws_col = 120;
  const pid_t pid = ::forkpty(&m_terminal, nullptr, nullptr, &size);
  if (pid < 0) return false;
  if (pid == 0) {
    ::execve(argPointers[0], argPointers.data(), envPointers.data());
    ::_exit(127);
  }
  m_pid = pid;
  return true;
}

bool PtySession::Collect(int waitMs) {
  if (m_terminal < 0) return false;
  pollfd watch{m_terminal, POLLIN, 0};
  if (::poll(&watch, 1, waitMs) <= 0) return false;
  char buffer[4096];
  const ssize_t got = ::read(m_terminal, buffer, sizeof buffer);
  if (got <= 0) return false;  // the terminal reports an error once the program has gone
  m_output.append(buffer, static_cast<std::size_t>(got));
  return true;
}

bool PtySession::ReapIfEnded() {
  if (m_exitCode) return true;
  if (m_pid <= 0) return false;
  int status = 0;
  if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
  m_exitCode = ExitCodeOf(status);
  return true;
}

bool PtySession::WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Collect(kPollSliceMs);
  }
  return true;
}

bool PtySession::WaitForOutput(const std::string& text, int timeoutMs) {
  return WaitUntil([&] { return Shows(text); }, timeoutMs);
}

bool PtySession::TypeInterrupt() {
  termios settings{};
  if (m_terminal < 0 || ::tcgetattr(m_terminal, &settings) != 0) return false;
  const char interrupt = static_cast<char>(settings.c_cc[VINTR]);
  return ::write(m_terminal, &interrupt, 1) == 1;
}

// The output is drained until the end, so that a program writing to a
// full terminal does not hang; what it wrote last is read after the reap.
std::optional<int> PtySession::WaitForExit(int timeoutMs) {
  const bool ended = WaitUntil([this] { return ReapIfEnded(); }, timeoutMs);
  while (Collect(0)) {
  }
  return ended ? m_exitCode : std::nullopt;
}

std::string PtySession::Output() const {
  std::string text;
  for (std::size_t i = 0; i < m_output.size(); ++i)
    if (!(m_output[i] == '\r' && i + 1 < m_output.size() && m_output[i + 1] == '\n')) text += m_output[i];
  return text;
}

}  // namespace app_test
