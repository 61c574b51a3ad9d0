// Console programs started with their output captured: the record of a
// launched child, and the two ways to start one.
//
// The child's standard output and standard error share one pipe, read
// through ReadOutput. ReadError exists for callers written for a separate
// error stream; its handle is always empty, so it returns false at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ChildProcess {
 public:
  static constexpr std::size_t kReadChunk = 8192;

  ChildProcess(int processId, int outputPipe);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One blocking read of up to 8192 bytes from the output pipe, appended to
  // `text`. False once the child has closed its end, on a failed read, or
  // when there is no pipe.
  bool ReadOutput(std::string& text);
  bool ReadError(std::string& text);
  // True when the process has ended within `milliseconds` (-1: no limit).
  bool Wait(int milliseconds);
  // The exit code, or -1 while it cannot be read (still running, or the
  // process was never waited for). Once read, the code is kept.
  int GetExitCode();
  // Closes the output pipe and the error handle and frees the read buffer.
  // A child that has already ended is reaped; one still running is left to
  // run on, as a closed process handle does not stop a process either.
  void Close();

  std::uint32_t ProcessId() const { return m_processId; }

 private:
  bool ReadPipe(int& pipe, std::string& text);

  int m_process = -1;  // the handle the platform waits on (the process id)
  std::uint32_t m_processId = 0;
  int m_outputPipe = -1;
  int m_errorPipe = -1;                  // never opened: both streams share m_outputPipe
  std::unique_ptr<char[]> m_readBuffer;  // kReadChunk bytes + terminator, allocated on first read
  bool m_exitCodeKnown = false;
  int m_exitCode = -1;
};

namespace NolkUtil {

// Starts `executable` with the 8-bit command line "\"<executable>\" <arguments>"
// (split by the Windows command-line rules), its standard output and error
// joined on one pipe and standard input inherited. Null when the process
// cannot be started, including when the program file is missing.
std::unique_ptr<ChildProcess> LaunchProcess(const std::wstring& executable, const std::wstring& arguments);

// Runs the program to completion and returns all it printed. A program that
// cannot be started gives "ERROR create-process\n"; a non-zero exit code c
// gives "ERROR c\n" followed by the output.
std::string RunAndCapture(const std::wstring& executable, const std::wstring& arguments);

}  // namespace NolkUtil
