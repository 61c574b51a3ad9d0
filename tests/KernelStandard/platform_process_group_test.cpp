// Children and the terminal: a child started with a pipe runs in a process
// group of its own (the terminal's Ctrl-C reaches only this program), never
// reads the terminal, and gets the interrupt only when the program hands it
// on; a detached child has a session of its own and is left alone.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(ProcessGroupPosix, LinuxOnly) {
  GTEST_SKIP() << "Linux only: they drive the children through a pseudo-terminal";
}
#else
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "KernelStandard/platform/Platform.h"
#include "platform_test_support.h"

namespace {

constexpr int kInterruptedExitCode = 128 + SIGINT;

std::string ReadAll(OS::Platform& os, int fd) {
  std::string output;
  char buffer[256];
  long got;
  while ((got = os.ReadPipe(fd, buffer, sizeof buffer)) > 0)
    output.append(buffer, static_cast<std::size_t>(got));
  return output;
}

// Ends a child that a failed expectation left running.
void EndChild(OS::Platform& os, int pid) {
  int exitCode = 0;
  if (os.WaitProcess(pid, 0, exitCode)) return;
  ::kill(pid, SIGKILL);
  os.WaitProcess(pid, -1, exitCode);
}

TEST(PlatformProcessGroupTest, ChildrenWithAPipeLeadAGroupOfTheirOwn) {
  OS::Platform& os = OS::Native();
  PlatformTest::TempFolder folder;
  OS::SpawnedProcess piped;
  OS::SpawnedProcess inFolder;
  ASSERT_TRUE(os.SpawnWithPipe({"sleep", "10"}, piped));
  ASSERT_TRUE(os.SpawnInFolder({"sleep", "10"}, folder.Wide(), inFolder));
  for (const OS::SpawnedProcess& child : {piped, inFolder}) {
    EXPECT_EQ(::getpgid(child.pid), child.pid);
    EXPECT_NE(::getpgid(child.pid), ::getpgrp());
    EXPECT_EQ(::getsid(child.pid), ::getsid(0)) << "still in our session, so it keeps the terminal";
    EndChild(os, child.pid);
    os.ClosePipe(child.outputFd);
  }
}

TEST(PlatformProcessGroupTest, ATerminalAsStandardInputIsNotHandedOn) {
  int terminal = -1;
  int terminalSide = -1;
  ASSERT_EQ(::openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr), 0);
  const int savedStdin = ::dup(STDIN_FILENO);
  ::dup2(terminalSide, STDIN_FILENO);
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess child;
  // Reading the terminal would wait for ever (nobody types); an empty input
  // ends the read at once.
  const bool started = os.SpawnWithPipe({"/bin/sh", "-c", "read line; echo \"read ended $?\""}, child);
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  ::close(terminalSide);
  ASSERT_TRUE(started);
  int exitCode = -1;
  EXPECT_TRUE(os.WaitProcess(child.pid, 5000, exitCode)) << "the child waits for the terminal";
  EndChild(os, child.pid);
  EXPECT_EQ(ReadAll(os, child.outputFd), "read ended 1\n");
  os.ClosePipe(child.outputFd);
  ::close(terminal);
}

// The interrupt reaches the whole group of a piped child (the shell and the
// program it waits for), but not a detached child.
TEST(PlatformProcessGroupTest, InterruptReachesPipedChildrenButNotDetachedOnes) {
  OS::Platform& os = OS::Native();
  OS::SpawnedProcess piped;
  int detached = -1;
  ASSERT_TRUE(os.SpawnWithPipe({"/bin/sh", "-c", "sleep 10; echo survived"}, piped));
  ASSERT_TRUE(os.SpawnDetached({"sleep", "10"}, detached));
  os.Sleep(100);  // the shell has started its sleep
  // The pipe reaches its end only once the shell and its sleep have both
  // gone, so the read below also shows that the whole group was reached.

  OS::InterruptChildProcesses();

  int exitCode = -1;
  EXPECT_TRUE(os.WaitProcess(piped.pid, 5000, exitCode));
  EXPECT_EQ(exitCode, kInterruptedExitCode);
  EXPECT_EQ(ReadAll(os, piped.outputFd), "");
  os.ClosePipe(piped.outputFd);
  EXPECT_FALSE(os.WaitProcess(detached, 200, exitCode)) << "the detached child was interrupted";
  EndChild(os, piped.pid);
  EndChild(os, detached);
}

// A child that has been waited for gives up its place in the list, so a
// long run that starts many tools still hands the interrupt to the latest.
TEST(PlatformProcessGroupTest, ChildrenWaitedForMakeRoomForLaterOnes) {
  OS::Platform& os = OS::Native();
  int exitCode = -1;
  for (int i = 0; i < 100; ++i) {
    OS::SpawnedProcess done;
    ASSERT_TRUE(os.SpawnWithPipe({"true"}, done));
    ASSERT_TRUE(os.WaitProcess(done.pid, 5000, exitCode));
    os.ClosePipe(done.outputFd);
  }
  OS::SpawnedProcess running;
  ASSERT_TRUE(os.SpawnWithPipe({"sleep", "10"}, running));

  OS::InterruptChildProcesses();

  EXPECT_TRUE(os.WaitProcess(running.pid, 5000, exitCode));
  EXPECT_EQ(exitCode, kInterruptedExitCode);
  os.ClosePipe(running.outputFd);
  EndChild(os, running.pid);
}

}  // namespace

#endif  // _WIN32
