// Whole repair runs of the console program korvel-patcher-cli as a child
// process: its own registry store and temporary folder, the scripted
// server named through KORVEL_REPAIR_SERVER, both output streams collected
// in one file, and a bounded wait (the child is killed when it overruns).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "RepairTestSupport.h"
#include "net/SocketAddress.h"
#include "tests/fixtures/test_spawn.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace RepairRunTest {

using namespace std::chrono_literals;

class ConsoleRun {
 public:
  ConsoleRun(const RepairTest::Installation& scratch, const std::filesystem::path& install,
             const SocketAddress& server, const std::vector<std::string>& extraEnvironment = {}) {
    std::filesystem::create_directories(scratch.Native("temp"));
    m_outputPath = scratch.Native("console-output.txt").string();
    std::vector<std::string> environment = {
        "KORVEL_REGISTRY=" + scratch.Native("registry.reg").string(),
        "TEMP=" + scratch.Native("temp").string(),
        "LC_ALL=C",
        "KORVEL_REPAIR_SERVER=127.0.0.1:" + std::to_string(server.port),
    };
    for (const std::string& assignment : extraEnvironment) environment.push_back(assignment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
      const std::string text = *variable;
      if (text.rfind("KORVEL_", 0) != 0 && text.rfind("TEMP=", 0) != 0 && text.rfind("LC_ALL=", 0) != 0)
        environment.push_back(text);
    }
    // With its drive (a Windows command line reads "/tmp/..." as an option).
    const std::vector<std::string> arguments = {KORVEL_PATCHER_CLI, "--repair", "0",
                                                std::filesystem::absolute(install).string()};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& assignment : environment) envp.push_back(const_cast<char*>(assignment.c_str()));
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, KORVEL_PATCHER_CLI, &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ConsoleRun() {
    if (m_pid > 0 && !m_reaped) {
      TestSpawn::Signal(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  ConsoleRun(const ConsoleRun&) = delete;
  ConsoleRun& operator=(const ConsoleRun&) = delete;

  bool Started() const { return m_pid > 0; }
  // The exit code, or -1 when the child did not end within the limit (it
  // is killed then) or ended by a signal.
  int Wait(std::chrono::milliseconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        TestSpawn::Signal(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int signal) { TestSpawn::Signal(m_pid, signal); }
  std::string Output() const {
    std::ifstream in(m_outputPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The output's lines, without line ends.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : Output()) {
#ifdef _WIN32
      if (c == '\r') continue;  // the console's text mode ends lines with CR LF
#endif
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }

 private:
  pid_t m_pid = -1;
  bool m_reaped = false;
  std::string m_outputPath;
};

}  // namespace RepairRunTest
