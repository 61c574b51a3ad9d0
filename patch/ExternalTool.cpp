#include "patch/ExternalTool.h"

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr std::size_t kOutputChunk = 4096;

std::vector<std::string> NativeArguments(const ToolInvocation& invocation) {
  OS::Platform& system = OS::Current();
  std::vector<std::string> argv{system.NativePath(invocation.program)};
  for (const std::wstring& verb : invocation.verbs) argv.push_back(OS::ToUtf8(verb));
  for (const std::wstring& path : invocation.paths) argv.push_back(system.NativePath(path));
  return argv;
}

void DrainOutput(int outputFd) {
  if (outputFd < 0) return;
  char chunk[kOutputChunk + 1];
  long count;
  while ((count = OS::Current().ReadPipe(outputFd, chunk, kOutputChunk)) > 0) {
    chunk[count] = '\0';
    LogPrint("RunTool> %s", chunk);
  }
  OS::Current().ClosePipe(outputFd);
}

}  // namespace

std::wstring CommandLineOf(const ToolInvocation& invocation) {
  std::wstring line = invocation.program;
  for (const std::wstring& verb : invocation.verbs) line += L" " + verb;
  for (const std::wstring& path : invocation.paths) line += L" \"" + path + L"\"";
  return line;
}

bool RunTool(const ToolInvocation& invocation, int& exitCode) {
  exitCode = -1;
  RunningTool tool;
  if (!StartTool(invocation, tool)) return false;
  exitCode = FinishTool(tool);
  return true;
}

bool StartTool(const ToolInvocation& invocation, RunningTool& tool) {
  OS::SpawnedProcess child;
  if (!OS::Current().SpawnInFolder(NativeArguments(invocation), invocation.folder, child)) {
    LogPrint("RunTool> the tool could not be started, err %d", OS::GetLastError());
    return false;
  }
  tool.pid = child.pid;
  tool.outputFd = child.outputFd;
  return true;
}

int FinishTool(RunningTool& tool) {
  DrainOutput(tool.outputFd);
  tool.outputFd = -1;
  int code = -1;
  if (tool.pid < 0 || !OS::Current().WaitProcess(tool.pid, -1, code)) code = -1;
  tool.pid = -1;
  return code;
}

}  // namespace NolkPatch
