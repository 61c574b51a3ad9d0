#include "KernelStandard/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/KernelStandard/fileutil_testfolder.h"
#include "tests/KernelStandard/linux_only.h"

using fileutil_test::TestFolder;
namespace fs = std::filesystem;

namespace {

// Arguments for "sh -c <script>" in the Windows command-line form.
std::wstring ShellScript(const std::wstring& script) {
  return L"-c \"" + script + L"\"";
}

}  // namespace

TEST(ChildProcessRunAndCapture, ExitCodeIsReportedBeforeTheOutput) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/bin/sh", ShellScript(L"echo hi; exit 3")), "ERROR 3\nhi\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/bin/sh", ShellScript(L"echo hi")), "hi\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/bin/sh", ShellScript(L"exit 255")), "ERROR 255\n");
}

TEST(ChildProcessRunAndCapture, BothStreamsShareOnePipeInArrivalOrder) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/bin/sh", ShellScript(L"echo out; echo err 1>&2; echo out2")),
            "out\nerr\nout2\n");
}

TEST(ChildProcessRunAndCapture, LongOutputArrivesWhole) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  const std::string text =
      NolkUtil::RunAndCapture(L"/bin/sh", ShellScript(L"head -c 100000 /dev/zero | tr '\\0' a"));
  EXPECT_EQ(text, std::string(100000, 'a'));
}

TEST(ChildProcessRunAndCapture, ArgumentsFollowWindowsQuoting) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/usr/bin/printf", L"\"[%s]\" \"a b\" c \"say \\\"x\\\"\""),
            "[a b][c][say \"x\"]");
}

TEST(ChildProcessRunAndCapture, ProgramPathInProgramForm) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"\\bin\\sh", ShellScript(L"echo back")), "back\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(L"/usr/BIN/SH", ShellScript(L"echo cased")), "cased\n");
}

TEST(ChildProcessRunAndCapture, ProgramThatCannotStartGivesCreateProcessError) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  TestFolder root;
  ASSERT_TRUE(root.Valid());
  root.WriteFile("plain.exe", "#!/bin/sh\necho should not run\n");
  fs::permissions(root.Native("plain.exe"), fs::perms::owner_read | fs::perms::owner_write);
  root.MakeFolder("folder.exe");
  EXPECT_EQ(NolkUtil::RunAndCapture(root.Wide(L"missing.exe"), L""), "ERROR create-process\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(root.Wide(L"plain.exe"), L""), "ERROR create-process\n");
  EXPECT_EQ(NolkUtil::RunAndCapture(root.Wide(L"folder.exe"), L""), "ERROR create-process\n");
  EXPECT_EQ(NolkUtil::LaunchProcess(root.Wide(L"missing.exe"), L"x"), nullptr);
}

TEST(ChildProcessWait, TimesOutOnARunningChildThenKeepsTheCode) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  std::unique_ptr<ChildProcess> child = NolkUtil::LaunchProcess(L"/bin/sh", ShellScript(L"sleep 1; exit 7"));
  ASSERT_NE(child, nullptr);
  EXPECT_GT(child->ProcessId(), 0u);
  EXPECT_FALSE(child->Wait(50));
  EXPECT_EQ(child->GetExitCode(), -1);
  EXPECT_TRUE(child->Wait(-1));
  EXPECT_EQ(child->GetExitCode(), 7);
  EXPECT_EQ(child->GetExitCode(), 7);  // the process is reaped once; the code stays
  EXPECT_TRUE(child->Wait(0));
  child->Close();
  EXPECT_EQ(child->GetExitCode(), 7);
}

TEST(ChildProcessReads, OutputEndsWithTheChildAndErrorHandleIsEmpty) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  std::unique_ptr<ChildProcess> child = NolkUtil::LaunchProcess(L"/bin/sh", ShellScript(L"printf abc"));
  ASSERT_NE(child, nullptr);
  std::string errors;
  EXPECT_FALSE(child->ReadError(errors));
  EXPECT_TRUE(errors.empty());
  std::string output;
  while (child->ReadOutput(output)) {
  }
  EXPECT_EQ(output, "abc");
  EXPECT_FALSE(child->ReadOutput(output));
  EXPECT_TRUE(child->Wait(-1));
  EXPECT_EQ(child->GetExitCode(), 0);
  child->Close();
  child->Close();
  EXPECT_FALSE(child->ReadOutput(output));
  EXPECT_EQ(output, "abc");
}

TEST(ChildProcessReads, BinaryOutputKeepsZeroBytes) {
  KORVEL_LINUX_ONLY("the children are POSIX shell commands; win32_process_test runs Windows children");
  std::unique_ptr<ChildProcess> child = NolkUtil::LaunchProcess(L"/bin/sh", ShellScript(L"printf 'a\\000b'"));
  ASSERT_NE(child, nullptr);
  std::string output;
  while (child->ReadOutput(output)) {
  }
  EXPECT_EQ(output, std::string("a\0b", 3));
}
