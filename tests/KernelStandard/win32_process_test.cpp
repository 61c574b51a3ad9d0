// Child processes on Windows: the command line a child receives, its
// output, exit code and folder.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "KernelStandard/ChildProcess.h"
#include "KernelStandard/platform/win32/Win32CommandLine.h"
#include "tests/KernelStandard/win32_test_support.h"

namespace {

std::string RunWithPipe(const std::vector<std::string>& argv, int& exitCode,
                        const std::wstring& folder = L"") {
  OS::SpawnedProcess child;
  const bool started = folder.empty() ? OS::Current().SpawnWithPipe(argv, child)
                                      : OS::Current().SpawnInFolder(argv, folder, child);
  if (!started) return "<not started: " + std::to_string(OS::GetLastError()) + ">";
  std::string output;
  char buffer[512];
  for (long got; (got = OS::Current().ReadPipe(child.outputFd, buffer, sizeof(buffer))) > 0;)
    output.append(buffer, static_cast<std::size_t>(got));
  OS::Current().ClosePipe(child.outputFd);
  exitCode = -1;
  EXPECT_TRUE(OS::Current().WaitProcess(child.pid, 30000, exitCode));
  return output;
}

TEST(Win32CommandLine, PlainArgumentsStayAsWrittenAndOthersComeBackWhole) {
  EXPECT_EQ(OS::Win32CommandLine::Join({"vpatchl-w32.exe", "old.bin", "diff.bin", "new.bin"}),
            L"vpatchl-w32.exe old.bin diff.bin new.bin");
  EXPECT_EQ(OS::Win32CommandLine::Quote(L"C:\\Program Files\\Ombrix\\"),
            L"\"C:\\Program Files\\Ombrix\\\\\"");
  EXPECT_EQ(OS::Win32CommandLine::Quote(L""), L"\"\"");
  const std::vector<std::string> awkward = {"C:\\Games\\Ombrix Online\\bin\\OmbrixUtil.exe",
                                            "",
                                            "a\"b",
                                            "tail\\",
                                            "two  blanks\\\\\"",
                                            "plain\\path"};
  EXPECT_EQ(OS::SplitCommandLine(OS::ToUtf8(OS::Win32CommandLine::Join(awkward))), awkward);
}

TEST(Win32Processes, OutputAndErrorShareThePipeAndTheExitCodeArrives) {
  int exitCode = -1;
  const std::string output = RunWithPipe({"cmd.exe", "/c", "echo out& echo err 1>&2& exit 7"}, exitCode);
  EXPECT_NE(output.find("out"), std::string::npos) << output;
  EXPECT_NE(output.find("err"), std::string::npos) << output;
  EXPECT_EQ(exitCode, 7);
}

TEST(Win32Processes, AChildRunsInTheFolderItIsGiven) {
  Win32Test::TempFolder folder;
  const std::wstring before = OS::Current().GetCurrentDirectory();
  int exitCode = -1;
  const std::string output = RunWithPipe({"cmd.exe", "/c", "cd"}, exitCode, folder.Path());
  EXPECT_EQ(exitCode, 0);
  const std::string expected = OS::ToUtf8(folder.Path());
  EXPECT_NE(output.find(expected.substr(expected.rfind('\\'))), std::string::npos) << output;
  EXPECT_EQ(OS::Current().GetCurrentDirectory(), before);
}

TEST(Win32Processes, WaitingTimesOutReapsOnceAndMissingProgramsFail) {
  OS::SpawnedProcess child;
  ASSERT_TRUE(OS::Current().SpawnWithPipe({"cmd.exe", "/c", "ping -n 3 127.0.0.1 >NUL"}, child));
  int exitCode = -1;
  EXPECT_FALSE(OS::Current().WaitProcess(child.pid, 0, exitCode));
  EXPECT_TRUE(OS::Current().IsProcessRunning(static_cast<std::uint32_t>(child.pid)));
  ASSERT_TRUE(OS::Current().WaitProcess(child.pid, 30000, exitCode));
  OS::Current().ClosePipe(child.outputFd);
  EXPECT_FALSE(OS::Current().WaitProcess(child.pid, 0, exitCode));
  EXPECT_FALSE(OS::Current().IsProcessRunning(static_cast<std::uint32_t>(child.pid)));

  EXPECT_FALSE(OS::Current().SpawnWithPipe({"C:\\no\\such\\program.exe"}, child));
  EXPECT_NE(OS::GetLastError(), OS::ERROR_SUCCESS);
  std::string path;
  EXPECT_FALSE(OS::Current().FindProgram("no-such-program-korvel", path));
  EXPECT_EQ(OS::GetLastError(), OS::ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(OS::Current().FindProgram("cmd", path));
  EXPECT_NE(path.find("cmd.exe"), std::string::npos) << path;
}

// The patch engine's child processes (the diff tool, the game utility) on
// Windows children: the exit code comes first, then the output.
TEST(Win32ChildProcess, RunAndCaptureReportsTheCodeThenTheOutputAndRefusesMissingPrograms) {
  EXPECT_EQ(NolkUtil::RunAndCapture(L"C:\\windows\\system32\\cmd.exe", L"/c echo hi& exit 3"),
            "ERROR 3\nhi\r\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"C:\\windows\\system32\\cmd.exe", L"/c echo plain"), "plain\r\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"C:\\no\\such\\program.exe", L""), "ERROR create-process\n");
  EXPECT_EQ(NolkUtil::LaunchProcess(L"C:\\no\\such\\program.exe", L"x"), nullptr);
}

TEST(Win32ChildProcess, AWaitTimesOutOnARunningChildAndTheCodeStays) {
  std::unique_ptr<ChildProcess> child =
      NolkUtil::LaunchProcess(L"C:\\windows\\system32\\cmd.exe", L"/c ping -n 2 127.0.0.1 >NUL& exit 7");
  ASSERT_NE(child, nullptr);
  EXPECT_FALSE(child->Wait(50));
  EXPECT_EQ(child->GetExitCode(), -1);
  std::string output;
  while (child->ReadOutput(output)) {
  }
  EXPECT_TRUE(child->Wait(-1));
  EXPECT_EQ(child->GetExitCode(), 7);
  child->Close();
  EXPECT_EQ(child->GetExitCode(), 7);
}

TEST(Win32Environment, VariablesTheProgramFileAndTheTemporaryFallback) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KORVEL_WIN32_TEST", L"w\u00e9rt"));
  std::string value;
  ASSERT_TRUE(OS::Current().GetEnvironment("KORVEL_WIN32_TEST", value));
  EXPECT_EQ(value, "w\xc3\xa9rt");
  ::SetEnvironmentVariableW(L"KORVEL_WIN32_TEST", nullptr);
  EXPECT_FALSE(OS::Current().GetEnvironment("KORVEL_WIN32_TEST", value));
  EXPECT_EQ(OS::Current().SystemTempFolder(), L"C:\\temp");
  const std::wstring program = OS::Current().ExecutablePath();
  EXPECT_EQ(program.substr(program.size() - 4), L".exe");
  EXPECT_TRUE(OS::Current().Exists(program));
}

}  // namespace

#endif  // _WIN32
