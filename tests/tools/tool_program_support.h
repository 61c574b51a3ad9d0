// Running the publisher programs as separate processes, as publishers and
// scripts run them: exit status, standard output and standard error, and a
// child that a test can signal. A child still running when its handle goes
// away is killed and reaped, so a failing test leaves no process behind.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "publisher_test_support.h"
#include "tests/fixtures/test_spawn.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace PublisherTest {

struct ProgramResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, 0 when it exited
  std::string out;
  std::string err;
};

class ChildProgram {
 public:
  // Starts argv[0] with standard output and standard error in files of
  // `folder` (which must exist) and standard input from /dev/null.
  ChildProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder)
      : m_outPath(folder / "program.out"), m_errPath(folder / "program.err") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_outPath.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_errPath.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> pointers;
    for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);
    if (posix_spawn(&m_pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProgram() {
    if (m_pid <= 0) return;
    TestSpawn::Signal(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool Started() const { return m_pid > 0; }
  bool Signal(int signalNumber) const { return m_pid > 0 && TestSpawn::Signal(m_pid, signalNumber) == 0; }

  // Waits for the end (killing the child after the time limit).
  ProgramResult Wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
    ProgramResult result;
    if (m_pid <= 0) return result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the program did not end in time";
        TestSpawn::Signal(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = ReadText(m_outPath);
    result.err = ReadText(m_errPath);
    return result;
  }

 private:
  pid_t m_pid = -1;
  std::filesystem::path m_outPath;
  std::filesystem::path m_errPath;
};

inline ProgramResult RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
  ChildProgram child(argv, folder);
  EXPECT_TRUE(child.Started()) << argv.front();
  return child.Wait();
}

// Names in `folder` that contain `part`.
inline std::vector<std::string> NamesContaining(const std::filesystem::path& folder,
                                                const std::string& part) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().find(part) != std::string::npos)
      names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace PublisherTest
