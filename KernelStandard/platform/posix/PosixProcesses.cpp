// POSIX backend: child processes. Children start with posix_spawn, SIGPIPE
// back at its default and an empty signal mask. Exit codes of reaped
// children are remembered so that a process can be waited for again; a
// child ended by a signal reports 128 + the signal.
//
// The tools the patcher runs with a pipe (the diff tools, the game utility)
// start in a process group of their own. The terminal sends Ctrl-C to its
// foreground process group only, so the patcher alone decides what a
// Ctrl-C means: a diff or a database rebuild under way is not cut short by
// the keypress that asked the patcher to cancel. Such a child could not
// read the terminal either (a background group is stopped when it tries),
// so when standard input is a terminal the child reads /dev/null instead;
// any other standard input is inherited. Until they are reaped these
// children are listed, so that InterruptChildProcesses can hand them the
// interrupt when the patcher ends at once. Detached children start a
// session of their own instead and are not listed: they outlive the run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "KernelStandard/platform/ListedChildren.h"
#include "KernelStandard/platform/posix/PosixPlatform.h"

extern char** environ;

namespace OS {
namespace {

constexpr int kPollSleepMs = 5;

bool NamesAPath(const std::string& program) {
  return program.find('/') != std::string::npos || program.find('\\') != std::string::npos;
}

std::vector<char*> ArgumentPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Spawn attributes and file actions, released with the object. A child
// that does not get a session of its own gets a process group of its own.
class SpawnSetup {
 public:
  SpawnSetup(int outputFd, bool newSession, const std::string& folder) {
    posix_spawn_file_actions_init(&m_actions);
    posix_spawnattr_init(&m_attributes);
    if (!newSession && ::isatty(STDIN_FILENO) == 1)
      posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) {
      posix_spawn_file_actions_adddup2(&m_actions, outputFd, STDOUT_FILENO);
      posix_spawn_file_actions_adddup2(&m_actions, outputFd, STDERR_FILENO);
    }
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&m_actions, folder.c_str());
    sigset_t noSignals;
    sigset_t defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&m_attributes, &noSignals);
    posix_spawnattr_setsigdefault(&m_attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) {
      flags |= POSIX_SPAWN_SETSID;
    } else {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&m_attributes, 0);  // the child's own pid becomes its group
    }
    posix_spawnattr_setflags(&m_attributes, flags);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&m_attributes);
    posix_spawn_file_actions_destroy(&m_actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
  const posix_spawnattr_t* Attributes() const { return &m_attributes; }

 private:
  posix_spawn_file_actions_t m_actions;
  posix_spawnattr_t m_attributes;
};

int ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return status;
}

std::uint64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec / 1000000);
}

void SleepMs(int milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

void PosixPlatform::Sleep(std::uint32_t milliseconds) {
  timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// A relative program path is resolved against the parent's current
// directory, also when the child starts in another folder.
bool PosixPlatform::Spawn(const std::vector<std::string>& argv, int outputFd, bool newSession, int& pid,
                          const std::string& folder) {
  if (argv.empty() || argv[0].empty()) return FailWith(ERROR_INVALID_PARAMETER);
  const bool isPath = NamesAPath(argv[0]);
  std::string program = isPath ? NativePath(FromUtf8(argv[0])) : argv[0];
  if (isPath && !folder.empty() && program.front() != '/')
    program = NativePath(GetCurrentDirectory()) + "/" + program;
  std::vector<char*> arguments = ArgumentPointers(argv);
  SpawnSetup setup(outputFd, newSession, folder);
  pid_t child = -1;
  const int result = isPath ? posix_spawn(&child, program.c_str(), setup.Actions(), setup.Attributes(),
                                          arguments.data(), environ)
                            : posix_spawnp(&child, program.c_str(), setup.Actions(), setup.Attributes(),
                                           arguments.data(), environ);
  if (result != 0) return FailWith(ErrorFromErrno(result));
  pid = child;
  {
    std::lock_guard lock(m_reapedMutex);
    m_reapedExitCodes.erase(child);  // a recycled pid must not report an old exit code
  }
  if (!newSession) ListedChildren::Add(child);
  return true;
}

bool PosixPlatform::SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return FailFromErrno();
  int pid = -1;
  const bool started = Spawn(argv, ends[1], false, pid);
  ::close(ends[1]);
  if (!started) {
    ::close(ends[0]);
    return false;
  }
  child.pid = pid;
  child.outputFd = ends[0];
  return true;
}

bool PosixPlatform::SpawnDetached(const std::vector<std::string>& argv, int& pid) {
  return Spawn(argv, -1, true, pid);
}

bool PosixPlatform::SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                                  SpawnedProcess& child) {
  if (folder.empty()) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string nativeFolder = NativePath(folder);
  struct stat info;
  if (::stat(nativeFolder.c_str(), &info) != 0) return FailFromErrno();
  if (!S_ISDIR(info.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return FailFromErrno();
  int pid = -1;
  const bool started = Spawn(argv, ends[1], false, pid, nativeFolder);
  ::close(ends[1]);
  if (!started) {
    ::close(ends[0]);
    return false;
  }
  child.pid = pid;
  child.outputFd = ends[0];
  return true;
}

bool PosixPlatform::TakeReapedExitCode(int pid, int& exitCode) {
  std::lock_guard lock(m_reapedMutex);
  const auto found = m_reapedExitCodes.find(pid);
  if (found == m_reapedExitCodes.end()) return false;
  exitCode = found->second;
  return true;
}

void PosixPlatform::RememberExitCode(int pid, int status, int& exitCode) {
  ListedChildren::Remove(pid);
  exitCode = ExitCodeFromStatus(status);
  std::lock_guard lock(m_reapedMutex);
  m_reapedExitCodes[pid] = exitCode;
}

// One non-blocking reap attempt; false only for a pid that is not a child.
bool PosixPlatform::ReapNow(int pid, bool& reaped, int& exitCode) {
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == pid) {
    RememberExitCode(pid, status, exitCode);
    reaped = true;
    return true;
  }
  if (result == 0) {
    reaped = false;
    return true;
  }
  // Another thread may have reaped it between our checks.
  reaped = TakeReapedExitCode(pid, exitCode);
  return reaped || FailWith(errno == ECHILD ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno));
}

// Waits for the child to become reapable through a pid descriptor; false
// when pid descriptors are unavailable.
bool PosixPlatform::WaitWithPidfd(int pid, int timeoutMs, bool& waited) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return false;
  const std::uint64_t deadline = MonotonicMs() + static_cast<std::uint64_t>(timeoutMs);
  pollfd watch{pidfd, POLLIN, 0};
  int ready;
  do {
    const std::uint64_t now = MonotonicMs();
    const int remaining = now >= deadline ? 0 : static_cast<int>(deadline - now);
    ready = ::poll(&watch, 1, remaining);
  } while (ready < 0 && errno == EINTR);
  ::close(pidfd);
  waited = ready > 0;
  return true;
}

bool PosixPlatform::PollUntilReaped(int pid, int timeoutMs, int& exitCode) {
  const std::uint64_t deadline = MonotonicMs() + static_cast<std::uint64_t>(timeoutMs);
  while (true) {
    bool reaped = false;
    if (!ReapNow(pid, reaped, exitCode)) return false;
    if (reaped) return true;
    if (MonotonicMs() >= deadline) return FailWith(ERROR_SUCCESS);
    SleepMs(kPollSleepMs);
  }
}

bool PosixPlatform::WaitProcess(int pid, int timeoutMs, int& exitCode) {
  if (pid <= 0) return FailWith(ERROR_INVALID_PARAMETER);
  if (TakeReapedExitCode(pid, exitCode)) return true;
  bool reaped = false;
  if (!ReapNow(pid, reaped, exitCode)) return false;
  if (reaped) return true;
  if (timeoutMs < 0) {
    int status = 0;
    pid_t result;
    do {
      result = ::waitpid(pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    if (result == pid) {
      RememberExitCode(pid, status, exitCode);
      return true;
    }
    return TakeReapedExitCode(pid, exitCode) || FailWith(ERROR_INVALID_PARAMETER);
  }
  bool ended = false;
  if (!WaitWithPidfd(pid, timeoutMs, ended)) return PollUntilReaped(pid, timeoutMs, exitCode);
  if (!ended) return FailWith(ERROR_SUCCESS);  // still running: a time-out, not an error
  return PollUntilReaped(pid, 0, exitCode);
}

long PosixPlatform::ReadPipe(int fd, void* data, std::size_t length) {
  ssize_t got;
  do {
    got = ::read(fd, data, length);
  } while (got < 0 && errno == EINTR);
  if (got < 0) FailFromErrno();
  return static_cast<long>(got);
}

void PosixPlatform::ClosePipe(int fd) {
  if (fd >= 0) ::close(fd);
}

// Only atomics and kill(): safe inside a signal handler.
void InterruptChildProcesses() {
  ListedChildren::ForEach([](int pid) {
    if (pid > 0) ::kill(-pid, SIGINT);
  });
}

}  // namespace OS
