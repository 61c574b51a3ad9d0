// Standard-output redirection to the parent's pipe. The parent test starts
// this test program again as a child (pid known before the child runs its
// static initialisers), prepares "<pid>cout" in the child's temporary
// folder, and looks where the child's output arrives.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(ConsoleRedirectPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they hand the child a FIFO in its temporary folder";
}
#else
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "KernelStandard/ConsoleRedirect.h"
#include "KernelStandard/Log.h"
#include "log_test_support.h"

extern char** environ;

namespace {

using logtest::TempFolder;

constexpr const char* kChildVariable = "KORVEL_REDIRECT_CHILD";
constexpr const char* kMarker = "redirect-child: stdout reached";

// Runs in the child program only: checks what the start-up decided and
// writes the marker to standard output.
TEST(ConsoleRedirectChild, ReportsWhereStandardOutputGoes) {
  const char* expectation = std::getenv(kChildVariable);
  if (expectation == nullptr) GTEST_SKIP() << "runs only as the child of the redirection tests";
  EXPECT_EQ(Vek::IsStdoutRedirected(), std::string(expectation) == "redirected");
  LogPrintTo(LOG_STDOUT, "%s", kMarker);
}

enum class PipeSetup { None, FifoWithReader, FifoWithoutReader, RegularFile };

struct ChildResult {
  int exitCode = -1;
  std::string fromStdout;  // what arrived on the child's original stdout
  std::string fromFifo;    // what arrived through "<pid>cout"
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (long n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

std::vector<std::string> ChildEnvironment(const TempFolder& folder, const char* expectation) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("TMPDIR=", 0) != 0 && text.rfind(kChildVariable, 0) != 0) environment.push_back(text);
  }
  environment.push_back("TMPDIR=" + folder.Root());
  environment.push_back(std::string(kChildVariable) + "=" + expectation);
  return environment;
}

int PrepareParentPipe(PipeSetup setup, const std::string& path) {
  if (setup == PipeSetup::RegularFile) close(open(path.c_str(), O_WRONLY | O_CREAT, 0644));
  if (setup == PipeSetup::FifoWithReader || setup == PipeSetup::FifoWithoutReader) mkfifo(path.c_str(), 0600);
  if (setup == PipeSetup::FifoWithReader) return open(path.c_str(), O_RDONLY | O_NONBLOCK);
  return -1;
}

ChildResult RunChild(PipeSetup setup, const char* expectation) {
  TempFolder folder;
  const std::vector<std::string> environment = ChildEnvironment(folder, expectation);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char program[] = "/proc/self/exe";
  char filter[] = "--gtest_filter=ConsoleRedirectChild.*";
  char* argv[] = {program, filter, nullptr};

  int go[2];
  int output[2];
  if (pipe(go) != 0 || pipe(output) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    char start;
    close(go[1]);
    if (read(go[0], &start, 1) != 1) _exit(126);
    dup2(output[1], STDOUT_FILENO);
    execve(program, argv, envp.data());
    _exit(127);
  }
  close(go[0]);
  close(output[1]);
  const int fifo = PrepareParentPipe(setup, folder.Path(std::to_string(pid) + "cout"));
  const char start = 'g';
  EXPECT_EQ(write(go[1], &start, 1), 1);
  close(go[1]);

  ChildResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.fromStdout = Drain(output[0]);
  close(output[0]);
  if (fifo >= 0) {
    result.fromFifo = Drain(fifo);
    close(fifo);
  }
  return result;
}

TEST(ConsoleRedirect, ParentFifoReceivesTheChildsStandardOutput) {
  const ChildResult child = RunChild(PipeSetup::FifoWithReader, "redirected");
  EXPECT_EQ(child.exitCode, 0) << child.fromStdout << child.fromFifo;
  EXPECT_NE(child.fromFifo.find(kMarker), std::string::npos) << child.fromFifo;
  EXPECT_EQ(child.fromStdout.find(kMarker), std::string::npos);
}

TEST(ConsoleRedirect, WithoutParentPipeStandardOutputStaysAsItWas) {
  const ChildResult child = RunChild(PipeSetup::None, "kept");
  EXPECT_EQ(child.exitCode, 0) << child.fromStdout;
  EXPECT_NE(child.fromStdout.find(kMarker), std::string::npos) << child.fromStdout;
}

TEST(ConsoleRedirect, FifoWithoutReaderOrPlainFileIsNotUsed) {
  for (PipeSetup setup : {PipeSetup::FifoWithoutReader, PipeSetup::RegularFile}) {
    const ChildResult child = RunChild(setup, "kept");
    EXPECT_EQ(child.exitCode, 0) << child.fromStdout;
    EXPECT_NE(child.fromStdout.find(kMarker), std::string::npos) << child.fromStdout;
  }
}

TEST(ConsoleRedirect, PipeNameIsTheProcessIdInTheTemporaryFolder) {
  const std::wstring folder = OS::Current().SystemTempFolder();
  const std::wstring name = Vek::ParentPipeName(12345);
  ASSERT_GE(name.size(), folder.size());
  EXPECT_EQ(name.substr(0, folder.size()), folder);
  EXPECT_EQ(name.substr(name.size() - 10), L"/12345cout");
  EXPECT_EQ(name.find(L"//"), std::wstring::npos);
}

}  // namespace

#endif  // _WIN32
