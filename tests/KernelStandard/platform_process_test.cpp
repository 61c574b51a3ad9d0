// Child processes, files held open by children, and standard output sent to
// a parent's named pipe.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(PlatformProcessPosix, LinuxOnly) {
  GTEST_SKIP()
      << "Linux only: they check children with POSIX process calls; win32_process_test covers Windows";
}
#else
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "KernelStandard/platform/Platform.h"
#include "platform_test_support.h"

namespace {

using PlatformTest::TempFolder;
using PlatformTest::WriteText;

std::string ReadAllOutput(OS::Platform& os, int fd) {
  std::string output;
  char buffer[256];
  long got;
  while ((got = os.ReadPipe(fd, buffer, sizeof buffer)) > 0)
    output.append(buffer, static_cast<std::size_t>(got));
  return output;
}

TEST(PlatformProcessTest, ChildOutputAndErrorsShareOnePipeAndExitCodeIsKept) {
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess child;
  ASSERT_TRUE(os.SpawnWithPipe({"/bin/sh", "-c", "echo out; echo err >&2; exit 7"}, child));
  ASSERT_GE(child.outputFd, 0);
  const std::string output = ReadAllOutput(os, child.outputFd);
  os.ClosePipe(child.outputFd);
  EXPECT_EQ(output, "out\nerr\n");
  int exitCode = -1;
  ASSERT_TRUE(os.WaitProcess(child.pid, 5000, exitCode));
  EXPECT_EQ(exitCode, 7);
  // Already reaped: the remembered code is reported again.
  exitCode = -1;
  ASSERT_TRUE(os.WaitProcess(child.pid, 0, exitCode));
  EXPECT_EQ(exitCode, 7);
}

TEST(PlatformProcessTest, WaitTimesOutOnRunningChildAndSignalsGiveHighExitCodes) {
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess child;
  ASSERT_TRUE(os.SpawnWithPipe({"sleep", "10"}, child));
  int exitCode = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(os.WaitProcess(child.pid, 100, exitCode));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::seconds(5));
  ::kill(child.pid, SIGKILL);
  ASSERT_TRUE(os.WaitProcess(child.pid, -1, exitCode));
  EXPECT_EQ(exitCode, 128 + SIGKILL);
  os.ClosePipe(child.outputFd);
}

TEST(PlatformProcessTest, MissingProgramAndForeignPidFail) {
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess child;
  EXPECT_FALSE(os.SpawnWithPipe({"/nonexistent/program.exe"}, child));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(os.SpawnWithPipe({}, child));
  int exitCode = 0;
  EXPECT_FALSE(os.WaitProcess(1, 0, exitCode));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_INVALID_PARAMETER);
}

TEST(PlatformProcessTest, ProgramPathIsResolvedLikeOtherPaths) {
  TempFolder folder;
  WriteText(folder.Native("Tool.sh"), "#!/bin/sh\necho tool \"$1\"\n");
  ::chmod(folder.Native("Tool.sh").c_str(), 0755);
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess child;
  ASSERT_TRUE(os.SpawnWithPipe({OS::ToUtf8(folder.Wide()) + "\\tool.SH", "arg one"}, child));
  EXPECT_EQ(ReadAllOutput(os, child.outputFd), "tool arg one\n");
  os.ClosePipe(child.outputFd);
  int exitCode = -1;
  ASSERT_TRUE(os.WaitProcess(child.pid, 5000, exitCode));
  EXPECT_EQ(exitCode, 0);
}

TEST(PlatformProcessTest, DetachedChildRunsWithoutPipe) {
  TempFolder folder;
  OS::Platform& os = OS::Native();
  int pid = -1;
  ASSERT_TRUE(os.SpawnDetached({"/bin/sh", "-c", "echo done > " + folder.Native("marker")}, pid));
  int exitCode = -1;
  ASSERT_TRUE(os.WaitProcess(pid, 5000, exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(PlatformTest::ReadText(folder.Native("marker")), "done\n");
}

TEST(PlatformProcessTest, FileHeldOpenByChildIsInUseUntilChildEnds) {
  TempFolder folder;
  WriteText(folder.Native("Ombrix.exe"), "binary");
  OS::Platform& os = OS::Native();
  EXPECT_FALSE(os.IsFileInUse(folder.Wide("Ombrix.exe")));
  OS::SpawnedProcess child;
  const std::string script = "exec 3<'" + folder.Native("Ombrix.exe") + "'; echo ready; read line";
  int toChild[2];
  ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
  // The child's standard input is ours: hand it a pipe whose write end we keep.
  const int savedStdin = ::dup(STDIN_FILENO);
  ::dup2(toChild[0], STDIN_FILENO);
  const bool started = os.SpawnWithPipe({"/bin/sh", "-c", script}, child);
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  ::close(toChild[0]);
  ASSERT_TRUE(started);
  char ready[6] = {};
  ASSERT_EQ(os.ReadPipe(child.outputFd, ready, 6), 6);
  EXPECT_TRUE(os.IsFileInUse(folder.Wide("OMBRIX.EXE")));
  ::close(toChild[1]);  // end of input: the child ends
  int exitCode = -1;
  ASSERT_TRUE(os.WaitProcess(child.pid, 5000, exitCode));
  os.ClosePipe(child.outputFd);
  EXPECT_FALSE(os.IsFileInUse(folder.Wide("Ombrix.exe")));
  EXPECT_FALSE(os.IsFileInUse(folder.Wide("missing")));
}

TEST(PlatformProcessTest, StdoutGoesToExistingFifoOnlyWhenItHasReader) {
  TempFolder folder;
  OS::Platform& os = OS::Native();
  EXPECT_FALSE(os.RedirectStdoutToPipe(folder.Wide("absent")));
  EXPECT_FALSE(std::filesystem::exists(folder.Native("absent")));
  WriteText(folder.Native("plain"), "");
  EXPECT_FALSE(os.RedirectStdoutToPipe(folder.Wide("plain")));
  ASSERT_EQ(::mkfifo(folder.Native("1234cout").c_str(), 0600), 0);
  EXPECT_FALSE(os.RedirectStdoutToPipe(folder.Wide("1234cout")));  // no reader yet

  const int reader = ::open(folder.Native("1234cout").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int savedStdout = ::dup(STDOUT_FILENO);
  const bool redirected = os.RedirectStdoutToPipe(folder.Wide("1234cout"));
  const bool written = redirected && os.WriteStdout("hello", 5);
  ::close(reader);  // reader gone: the next write fails instead of killing us
  const bool writtenWithoutReader = redirected && os.WriteStdout("x", 1);
  ::dup2(savedStdout, STDOUT_FILENO);
  ::close(savedStdout);
  EXPECT_TRUE(redirected);
  EXPECT_TRUE(written);
  EXPECT_FALSE(writtenWithoutReader);
}

TEST(PlatformProcessTest, EnvironmentClockAndIdentity) {
  OS::Platform& os = OS::Native();
  ::setenv("KORVEL_PLATFORM_TEST", "value", 1);
  std::string value;
  EXPECT_TRUE(os.GetEnvironment("KORVEL_PLATFORM_TEST", value));
  EXPECT_EQ(value, "value");
  ::unsetenv("KORVEL_PLATFORM_TEST");
  EXPECT_FALSE(os.GetEnvironment("KORVEL_PLATFORM_TEST", value));
  const std::uint32_t before = os.TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(os.TickCount() - before, 15u);
  EXPECT_EQ(os.ProcessId(), static_cast<std::uint32_t>(::getpid()));
  EXPECT_TRUE(os.Exists(os.ExecutablePath()));
  EXPECT_NE(os.ExecutablePath().find(L"kernel_tests"), std::wstring::npos);
}

TEST(PlatformProcessTest, DebugOutputAppendsToConfiguredFile) {
  TempFolder folder;
  OS::Platform& os = OS::Native();
  ::setenv("KORVEL_DEBUG_OUTPUT", folder.Native("debug.txt").c_str(), 1);
  os.DebugOutput("one\n");
  os.DebugOutput("two\n");
  ::unsetenv("KORVEL_DEBUG_OUTPUT");
  os.DebugOutput("dropped\n");
  EXPECT_EQ(PlatformTest::ReadText(folder.Native("debug.txt")), "one\ntwo\n");
}

}  // namespace

#endif  // _WIN32
