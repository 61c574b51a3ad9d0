// Running one of the outside tools that rebuild a changed file: the program
// is started with the tools folder as its current directory, its output is
// drained into the system log (so a talkative tool never blocks on a full
// pipe), and the engine waits for it without a time-out.
#pragma once

#include <string>
#include <vector>

namespace NolkPatch {

struct ToolInvocation {
  std::wstring program;             // full path of the tool
  std::vector<std::wstring> verbs;  // bare words after the program (e.g. "patchapply")
  std::vector<std::wstring> paths;  // file arguments, quoted on the command line
  std::wstring folder;              // the current directory of the tool
};

// The command line as the engine reports it: the program, each verb after
// one blank, each path after one blank in double quotes.
std::wstring CommandLineOf(const ToolInvocation& invocation);

// A started tool, until FinishTool has waited for it.
struct RunningTool {
  int pid = -1;
  int outputFd = -1;
};

// Starts the tool and waits for it. False when it cannot be started; the
// exit code is -1 when the process could not be waited for.
bool RunTool(const ToolInvocation& invocation, int& exitCode);

// RunTool in two halves, so the caller can do other work while the tool
// runs: StartTool is false when the tool cannot be started; FinishTool
// drains the output, waits and gives the exit code (-1 as above). A tool
// that writes more than a pipe holds in the meantime just waits for the
// drain.
bool StartTool(const ToolInvocation& invocation, RunningTool& tool);
int FinishTool(RunningTool& tool);

}  // namespace NolkPatch
