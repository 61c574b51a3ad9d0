// POSIX backend: process environment, the user and the user's data folder,
// clocks, debugger text and the standard-output redirection to a parent's
// named pipe.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

// Blocks SIGPIPE for the calling thread while a write may hit a pipe without
// reader, so the write fails with EPIPE instead of ending the process, and
// swallows a SIGPIPE that the write raised.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&m_pipeOnly);
    sigaddset(&m_pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &m_pipeOnly, &m_previous);
    sigset_t pending;
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeGuard() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  void SwallowRaisedSignal() {
    if (m_wasPending) return;
    const timespec noWait{0, 0};
    while (sigtimedwait(&m_pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }

 private:
  sigset_t m_pipeOnly;
  sigset_t m_previous;
  bool m_wasPending = false;
};

// $HOME, else the home folder of the effective user in the user database;
// empty when neither names one.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  return found->pw_dir != nullptr ? found->pw_dir : "";
}

}  // namespace

bool PosixPlatform::GetEnvironment(const std::string& name, std::string& value) {
  const char* found = std::getenv(name.c_str());
  if (found == nullptr) return FailWith(ERROR_FILE_NOT_FOUND);
  value = found;
  return true;
}

std::uint32_t PosixPlatform::TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms =
      static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec / 1000000);
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t PosixPlatform::ProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

std::uint32_t PosixPlatform::ThreadId() {
  return static_cast<std::uint32_t>(::gettid());
}

std::wstring PosixPlatform::ExecutablePath() {
  std::string buffer(256, '\0');
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      FailFromErrno();
      return {};
    }
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return FromUtf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring PosixPlatform::SystemTempFolder() {
  const char* folder = std::getenv("TMPDIR");
  return FromUtf8((folder != nullptr && *folder != '\0') ? folder : "/tmp");
}

std::uint32_t PosixPlatform::EffectiveUserId() {
  return static_cast<std::uint32_t>(::geteuid());
}

std::wstring PosixPlatform::UserDataFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return FromUtf8(dataHome);
  const std::string home = HomeFolder();
  return home.empty() ? std::wstring() : FromUtf8(home + "/.local/share");
}

void PosixPlatform::DebugOutput(const std::string& text) {
  const char* target = std::getenv("KORVEL_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0') return;
  const int fd = ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t written = ::write(fd, text.data(), text.size());
  (void)written;  // nothing to report to: the debugger text is best effort
  ::close(fd);
}

bool PosixPlatform::RedirectStdoutToPipe(const std::wstring& pipeName) {
  const int fd = ::open(NativePath(pipeName).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
    ::close(fd);
    return FailWith(ERROR_FILE_NOT_FOUND);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  const bool ready =
      flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && ::dup2(fd, STDOUT_FILENO) >= 0;
  const int error = errno;
  ::close(fd);
  return ready || FailWith(ErrorFromErrno(error));
}

bool PosixPlatform::WriteStdout(const void* data, std::size_t length) {
  SigpipeGuard guard;
  const ssize_t written = ::write(STDOUT_FILENO, data, length);
  if (written < 0) {
    const int error = errno;
    if (error == EPIPE) guard.SwallowRaisedSignal();
    return FailWith(ErrorFromErrno(error));
  }
  return static_cast<std::size_t>(written) == length || FailWith(ERROR_WRITE_FAULT);
}

}  // namespace OS
