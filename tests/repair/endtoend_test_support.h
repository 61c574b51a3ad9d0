// Helpers of the end-to-end repair tests: the console patcher run in repair
// mode against a real korvel-repair-server (the server named through
// KORVEL_REPAIR_SERVER, a registry store of the test's own), and a byte for
// byte comparison of two installation trees.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "server_test_support.h"

namespace EndToEndTest {

using namespace ServerTest;
namespace fs = std::filesystem;

// Names that belong to each installation itself and are never compared.
inline bool IsOwnFile(const fs::path& relative) {
  const std::string name = relative.generic_string();
  return name == "repair.cks" || name == "unins000.exe" || name == "KorvelPatch.journal";
}

// Every file (relative name -> bytes) and every folder of a tree.
struct TreeContents {
  std::map<std::string, Bytes> files;
  std::set<std::string> folders;
};

inline TreeContents ReadTree(const fs::path& root) {
  TreeContents tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path relative = fs::relative(entry.path(), root);
    if (entry.is_directory()) {
      tree.folders.insert(relative.generic_string());
    } else if (!IsOwnFile(relative)) {
      std::ifstream in(entry.path(), std::ios::binary);
      tree.files[relative.generic_string()] = Bytes(std::istreambuf_iterator<char>(in), {});
    }
  }
  return tree;
}

// The first difference between two trees, or empty when they are equal.
inline std::string TreeDifference(const fs::path& expected, const fs::path& actual) {
  const TreeContents a = ReadTree(expected), b = ReadTree(actual);
  for (const auto& [name, bytes] : a.files) {
    const auto found = b.files.find(name);
    if (found == b.files.end()) return "missing " + name;
    if (found->second != bytes) return "different " + name;
  }
  for (const auto& [name, bytes] : b.files)
    if (a.files.count(name) == 0) return "extra " + name;
  for (const auto& folder : a.folders)
    if (b.folders.count(folder) == 0) return "missing folder " + folder;
  return {};
}

// One run of korvel-patcher-cli --repair on an installation.
class RepairRun {
 public:
  RepairRun(const std::string& installation, std::uint16_t port) : m_folder(MakeFolder()) {
    m_output = m_folder + "/output.txt";
    const std::string server = "KORVEL_REPAIR_SERVER=127.0.0.1:" + std::to_string(port);
    const std::string registry = "KORVEL_REGISTRY=" + m_folder + "/registry.reg";
    std::vector<std::string> environment{server, registry};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("KORVEL_REPAIR_SERVER=", 0) != 0 && text.rfind("KORVEL_REGISTRY=", 0) != 0)
        environment.push_back(text);
    }
    // With its drive (a Windows command line reads "/tmp/..." as an option).
    const std::vector<std::string> arguments{KORVEL_PATCHER_CLI, "--repair", "0",
                                             std::filesystem::absolute(installation).string()};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv, envp;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~RepairRun() {
    if (m_pid > 0) Kill();
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }
  RepairRun(const RepairRun&) = delete;
  RepairRun& operator=(const RepairRun&) = delete;

  // The exit code; -1 when the run did not end within the limit (it is
  // then killed).
  int Wait(std::chrono::seconds limit = 300s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_pid > 0) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > end) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  void Kill() {
    TestSpawn::Signal(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
  }
  std::string Output() const { return ReadText(m_output); }

 private:
  static std::string MakeFolder() {
    char pattern[] = "/tmp/korvel-e2e-XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }

  std::string m_folder;
  std::string m_output;
  pid_t m_pid = -1;
};

// Runs a repair to its end; the exit code, with the output in `output`.
inline int RunRepair(const std::string& installation, std::uint16_t port, std::string& output) {
  RepairRun run(installation, port);
  const int exit = run.Wait();
  output = run.Output();
  return exit;
}

// The "sent K of N segments" figures of the server's last session line.
inline bool LastSession(const ServerProcess& server, std::size_t& sent, std::size_t& planned) {
  const auto lines = server.SessionLines();
  return !lines.empty() && SentFigures(lines.back(), sent, planned);
}

}  // namespace EndToEndTest
