#include "KernelStandard/ChildProcess.h"

#include <vector>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

ChildProcess::ChildProcess(int processId, int outputPipe)
    : m_process(processId), m_processId(static_cast<std::uint32_t>(processId)), m_outputPipe(outputPipe) {}

ChildProcess::~ChildProcess() {
  Close();
}

bool ChildProcess::ReadOutput(std::string& text) {
  return ReadPipe(m_outputPipe, text);
}

bool ChildProcess::ReadError(std::string& text) {
  return ReadPipe(m_errorPipe, text);
}

// A pipe read gives 0 bytes only at end of data, i.e. once the child (and
// every process that inherited the write end) has closed it.
bool ChildProcess::ReadPipe(int& pipe, std::string& text) {
  if (pipe < 0) return false;
  if (!m_readBuffer) m_readBuffer = std::make_unique<char[]>(kReadChunk + 1);
  const long count = OS::Current().ReadPipe(pipe, m_readBuffer.get(), kReadChunk);
  if (count <= 0) return false;
  m_readBuffer[count] = '\0';
  text.append(m_readBuffer.get(), static_cast<std::size_t>(count));
  return true;
}

bool ChildProcess::Wait(int milliseconds) {
  if (m_exitCodeKnown) return true;
  if (m_process < 0) return false;
  int code = -1;
  if (!OS::Current().WaitProcess(m_process, milliseconds, code)) return false;
  m_exitCode = code;
  m_exitCodeKnown = true;
  return true;
}

int ChildProcess::GetExitCode() {
  if (!m_exitCodeKnown) Wait(0);
  return m_exitCodeKnown ? m_exitCode : -1;
}

void ChildProcess::Close() {
  if (m_outputPipe >= 0) OS::Current().ClosePipe(m_outputPipe);
  m_outputPipe = -1;
  if (m_errorPipe >= 0) OS::Current().ClosePipe(m_errorPipe);
  m_errorPipe = -1;
  if (m_process >= 0) Wait(0);
  m_process = -1;
  m_readBuffer.reset();
}

namespace NolkUtil {
namespace {

// Program files named by a path must exist as files; a bare name is left to
// the platform's search.
bool ProgramFileMissing(const std::string& program) {
  if (program.find_first_of("\\/") == std::string::npos) return false;
  OS::FileInfo info;
  if (OS::Current().Stat(ToWide(program), info) && !info.isDirectory) return false;
  OS::SetLastError(OS::ERROR_FILE_NOT_FOUND);
  return true;
}

std::string BuildCommandLine(const std::wstring& executable, const std::wstring& arguments) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely about overlapping
  // copies in a chain of string additions that starts with a literal.
  std::string line(1, '"');
  line += ToNarrow(NormalizeSeparators(executable));
  line += "\" ";
  line += ToNarrow(arguments);
  return line;
}

}  // namespace

std::unique_ptr<ChildProcess> LaunchProcess(const std::wstring& executable, const std::wstring& arguments) {
  std::vector<std::string> argv = OS::SplitCommandLine(BuildCommandLine(executable, arguments));
  if (argv.empty() || argv.front().empty() || ProgramFileMissing(argv.front())) return nullptr;
  argv.front() = OS::Current().NativePath(ToWide(argv.front()));

  OS::SpawnedProcess spawned;
  if (!OS::Current().SpawnWithPipe(argv, spawned) || spawned.pid <= 0) return nullptr;
  return std::make_unique<ChildProcess>(spawned.pid, spawned.outputFd);
}

std::string RunAndCapture(const std::wstring& executable, const std::wstring& arguments) {
  std::unique_ptr<ChildProcess> child = LaunchProcess(executable, arguments);
  if (!child) return "ERROR create-process\n";

  std::string output;
  bool outputOpen = true;
  bool errorOpen = true;
  while (outputOpen || errorOpen) {
    if (outputOpen) outputOpen = child->ReadOutput(output);
    if (errorOpen) errorOpen = child->ReadError(output);
  }
  child->Wait(-1);
  const int exitCode = child->GetExitCode();
  child->Close();
  if (exitCode == 0) return output;
  return "ERROR " + std::to_string(exitCode) + "\n" + output;
}

}  // namespace NolkUtil
