// Running a program as root: through pkexec, which asks the user for an
// administrator's password in the desktop's own dialog (the counterpart of
// the shell's "runas" verb).
#include "KernelStandard/platform/posix/PosixPlatform.h"

namespace OS {
namespace {

// pkexec's exit codes when the user dismissed the dialog or was not
// authorised.
constexpr int kElevationDismissed = 126;
constexpr int kElevationRefused = 127;

}  // namespace

bool PosixPlatform::RunElevated(const std::wstring& program, const std::wstring& arguments) {
  std::string pkexec;
  if (!FindProgram("pkexec", pkexec)) return false;
  std::vector<std::string> argv{pkexec, ToUtf8(program)};
  for (std::string& argument : SplitCommandLine(ToUtf8(arguments))) argv.push_back(std::move(argument));
  int pid = -1;
  if (!SpawnDetached(argv, pid)) return false;
  int exitCode = 0;
  if (!WaitProcess(pid, -1, exitCode)) return true;
  return exitCode != kElevationDismissed && exitCode != kElevationRefused;
}

}  // namespace OS
