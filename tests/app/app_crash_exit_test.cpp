// The programs' exit trap: armed by the start-up's fault handling, so an
// unplanned exit leaves a crash dump, while every planned end (a completed
// run, a Ctrl-C at the console) leaves none.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "app/core/FatalError.h"
#include "app/core/ProgressThreads.h"
#include "pty_session.h"
#include "slow_diff_tool.h"
#include "standalone_test_support.h"

namespace {

namespace fs = std::filesystem;
using app_test::PtySession;
using standalone_test::StandaloneRunTest;

// Files a crash would leave: dumps in the program's folder, the report
// in the temporary folder.
std::vector<std::string> CrashFiles(const fs::path& programFolder, const fs::path& temp) {
  std::vector<std::string> found;
  std::vector<fs::path> folders = {programFolder};
  if (fs::exists(temp) && !fs::equivalent(temp, programFolder)) folders.push_back(temp);
  for (const fs::path& folder : folders) {
    if (!fs::exists(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(".dmp") || name == "ERRORLOG.TXT" || name == "CRASH.DMP") found.push_back(name);
    }
  }
  return found;
}

int RunChildIn(const fs::path& folder, void (*body)()) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(3);
    ::setenv("TEMP", folder.c_str(), 1);
    body();
    ::_exit(4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void QuietBox(const std::wstring& text, const std::wstring& caption) {
  std::fprintf(stderr, "%ls / %ls\n", caption.c_str(), text.c_str());
}

TEST(ProgramExitTrapTest, AnUnplannedExitAfterStartUpLeavesADumpAndAPlannedOneDoesNot) {
  app_test::TempFolder unplanned;
  EXPECT_EQ(RunChildIn(unplanned.Path(),
                       [] {
                         NolkPatch::InstallFatalErrorHandling(QuietBox);
                         std::exit(0);  // some library gives up and ends the process
                       }),
            255);
  const std::vector<std::string> files = CrashFiles(unplanned.Path(), unplanned.Path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(patcher-v35673-.*\.dmp)"))) << files[0];

  app_test::TempFolder planned;
  EXPECT_EQ(RunChildIn(planned.Path(),
                       [] {
                         NolkPatch::InstallFatalErrorHandling(QuietBox);
                         NolkPatch::DisarmFatalErrorHandling();
                         std::exit(0);
                       }),
            0);
  EXPECT_TRUE(CrashFiles(planned.Path(), planned.Path()).empty());
}

volatile bool g_deeper = true;  // always true; the compiler cannot know

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[1024];
  pad[0] = static_cast<char>(depth);
  return g_deeper ? Recurse(depth + 1) + pad[0] : 0;
}

class OverflowingThread : public NolkPatch::wxGuardedThread {
 protected:
  ExitCode Body() override { return reinterpret_cast<ExitCode>(static_cast<std::intptr_t>(Recurse(0))); }
};

// A worker that uses up its stack still gets its dump and the message: the
// handler runs on the worker's own fault stack.
TEST(ProgramExitTrapTest, AStackOverflowInAWorkerIsReported) {
  app_test::TempFolder folder;
  EXPECT_EQ(RunChildIn(folder.Path(),
                       [] {
                         NolkPatch::InstallFatalErrorHandling(QuietBox);
                         OverflowingThread thread;
                         thread.Run();
                         thread.Wait();
                       }),
            255);
  const std::vector<std::string> files = CrashFiles(folder.Path(), folder.Path());
  EXPECT_EQ(files.size(), 3u) << "the report, its dump and the program's dump";
}

class ConsoleExitTest : public StandaloneRunTest {
 protected:
  void MakePatch(bool slowDiff) {
    MakeTree("100", {{"data/first.dat", std::string(40000, 'a')}});
    MakeTree("200", {{"data/first.dat", std::string(40000, 'a') + "changed"}});
    if (slowDiff) {
      for (const std::string version : {"100", "200"})
        app_test::InstallSlowDiffTool(TreePath(version), "first.dat", VPATCH_TOOL);
    }
    Package("200", {"100"}, {{"100", "200"}});
    InstallCopyOf("100");
    RegisterInstall();
  }
  fs::path Temp() const { return m_folder / "temp"; }
};

TEST_F(ConsoleExitTest, ACompletedRunLeavesNoDumpOrReport) {
  MakePatch(false);
  const standalone_test::RunResult result = RunPackaged();
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Contains("Patching completed.")) << result.output;
  EXPECT_EQ(CrashFiles(m_folder.Path(), Temp()), std::vector<std::string>{});
}

TEST_F(ConsoleExitTest, CtrlCEndsTheConsoleProgramQuietly) {
  MakePatch(true);
  const fs::path mark = m_folder.Path() / "slow-diff.txt";
  PtySession session;
  ASSERT_TRUE(session.Start(
      ProgramPath().string(), {},
      app_test::EnvironmentWith(
          {"LC_ALL=C", "LANG=C", "KORVEL_REGISTRY=" + (m_folder / "registry.reg").string(),
           "TEMP=" + Temp().string(), std::string(app_test::kSlowDiffMarkVariable) + "=" + mark.string()},
          {"KORVEL_FAULTS"})));
  ASSERT_TRUE(session.WaitUntil([&] { return fs::exists(mark); }, 120000)) << session.Output();
  ASSERT_TRUE(session.TypeInterrupt());
  const std::optional<int> exitCode = session.WaitForExit(120000);
  ASSERT_TRUE(exitCode.has_value()) << session.Output();
  EXPECT_EQ(*exitCode, 1) << session.Output();
  EXPECT_TRUE(session.Shows("Patching aborted.")) << session.Output();
  EXPECT_FALSE(session.Shows("Unhandled Exception")) << session.Output();
  EXPECT_EQ(CrashFiles(m_folder.Path(), Temp()), std::vector<std::string>{});
}

}  // namespace
