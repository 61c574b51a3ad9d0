// Helpers for the logging tests: a temporary folder, standard-output
// capture, a recording observer and a platform that forwards to the native
// one with hooks.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/Platform.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace logtest {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/korvel-log-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  std::string Path(const std::string& name) const { return m_path + "/" + name; }
  std::wstring WidePath(const std::string& name) const { return OS::FromUtf8(Path(name)); }
  const std::string& Root() const { return m_path; }

 private:
  std::string m_path;
};

// True when `text` has the shape of `shape`: '9' stands for a decimal digit,
// 'X' for an upper-case hexadecimal digit, every other character for itself.
inline bool MatchesShape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    if (shape[i] == '9' ? !digit : shape[i] == 'X' ? !(digit || (c >= 'A' && c <= 'F')) : c != shape[i])
      return false;
  }
  return true;
}

// The lines of a "\r\n"-separated text, without their line ends.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2)
    lines.push_back(text.substr(begin, end - begin));
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Points file descriptor 1 at a pipe until Finish() returns what was written.
class StdoutCapture {
 public:
  StdoutCapture() {
    if (pipe(m_pipe) != 0) return;
    m_saved = dup(STDOUT_FILENO);
    dup2(m_pipe[1], STDOUT_FILENO);
  }
  ~StdoutCapture() { Finish(); }
  std::string Finish() {
    if (m_saved < 0) return m_text;
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    close(m_pipe[1]);
    m_saved = -1;
    char buffer[4096];
    for (long n; (n = read(m_pipe[0], buffer, sizeof buffer)) > 0;)
      m_text.append(buffer, static_cast<std::size_t>(n));
    close(m_pipe[0]);
    return m_text;
  }

 private:
  int m_pipe[2] = {-1, -1};
  int m_saved = -1;
  std::string m_text;
};

// Records every entry it is given; registered for its whole lifetime.
class RecordingObserver : public NolkSystemLogObserver {
 public:
  explicit RecordingObserver(std::function<void(const std::wstring&)> onText = {})
      : m_onText(std::move(onText)) {
    RegisterSystemLogObserver(this);
  }
  ~RecordingObserver() override { UnregisterSystemLogObserver(this); }
  void OnLogText(const std::wstring& text) override {
    texts.push_back(text);
    if (m_onText) m_onText(text);
  }
  std::vector<std::wstring> texts;

 private:
  std::function<void(const std::wstring&)> m_onText;
};

// Forwards every call to the native platform; WriteStream and DebugOutput
// can be hooked. Installed for the lifetime of the object.
class HookedPlatform : public OS::Platform {
 public:
  HookedPlatform() : m_native(OS::Native()) { m_previous = OS::Install(this); }
  ~HookedPlatform() override { OS::Install(m_previous); }

  std::function<void(const std::string&)> onWriteStream;
  std::function<void(const std::string&)> onDebugOutput;

  std::size_t WriteStream(std::FILE* s, const void* d, std::size_t n) override {
    const std::size_t written = m_native.WriteStream(s, d, n);
    if (onWriteStream) onWriteStream(std::string(static_cast<const char*>(d), n));
    return written;
  }
  void DebugOutput(const std::string& text) override {
    if (onDebugOutput) onDebugOutput(text);
    m_native.DebugOutput(text);
  }

  std::string NativePath(const std::wstring& p) override { return m_native.NativePath(p); }
  bool Stat(const std::wstring& p, OS::FileInfo& i) override { return m_native.Stat(p, i); }
  bool Exists(const std::wstring& p) override { return m_native.Exists(p); }
  bool IsSymbolicLink(const std::wstring& p) override { return m_native.IsSymbolicLink(p); }
  bool SetReadOnlyFlag(const std::wstring& p, bool r) override { return m_native.SetReadOnlyFlag(p, r); }
  bool CreateDirectory(const std::wstring& p) override { return m_native.CreateDirectory(p); }
  bool RemoveDirectory(const std::wstring& p) override { return m_native.RemoveDirectory(p); }
  bool DeleteFile(const std::wstring& p) override { return m_native.DeleteFile(p); }
  bool MoveFile(const std::wstring& f, const std::wstring& t) override { return m_native.MoveFile(f, t); }
  bool CopyFile(const std::wstring& f, const std::wstring& t, bool o) override {
    return m_native.CopyFile(f, t, o);
  }
  bool IsFileInUse(const std::wstring& p) override { return m_native.IsFileInUse(p); }
  bool ListDirectory(const std::wstring& p, std::vector<OS::DirEntry>& e) override {
    return m_native.ListDirectory(p, e);
  }
  bool GetFreeBytes(const std::wstring& p, std::uint64_t& f) override { return m_native.GetFreeBytes(p, f); }
  bool SetCurrentDirectory(const std::wstring& p) override { return m_native.SetCurrentDirectory(p); }
  std::wstring GetCurrentDirectory() override { return m_native.GetCurrentDirectory(); }
  std::FILE* OpenStream(const std::wstring& p, OS::OpenMode m) override { return m_native.OpenStream(p, m); }
  std::size_t ReadStream(std::FILE* s, void* d, std::size_t n) override {
    return m_native.ReadStream(s, d, n);
  }
  bool SeekStream(std::FILE* s, std::uint64_t p) override { return m_native.SeekStream(s, p); }
  bool StreamLength(std::FILE* s, std::uint64_t& l) override { return m_native.StreamLength(s, l); }
  bool TruncateStream(std::FILE* s, std::uint64_t l) override { return m_native.TruncateStream(s, l); }
  bool FlushStream(std::FILE* s, bool c) override { return m_native.FlushStream(s, c); }
  void CloseStream(std::FILE* s) override { m_native.CloseStream(s); }
  int OpenDescriptor(const std::wstring& p, OS::OpenMode m) override { return m_native.OpenDescriptor(p, m); }
  long ReadDescriptor(int fd, void* d, std::size_t n) override { return m_native.ReadDescriptor(fd, d, n); }
  long WriteDescriptor(int fd, const void* d, std::size_t n) override {
    return m_native.WriteDescriptor(fd, d, n);
  }
  bool SeekDescriptor(int fd, std::uint64_t p) override { return m_native.SeekDescriptor(fd, p); }
  void CloseDescriptor(int fd) override { m_native.CloseDescriptor(fd); }
  bool SpawnWithPipe(const std::vector<std::string>& a, OS::SpawnedProcess& c) override {
    return m_native.SpawnWithPipe(a, c);
  }
  bool SpawnDetached(const std::vector<std::string>& a, int& pid) override {
    return m_native.SpawnDetached(a, pid);
  }
  bool WaitProcess(int pid, int t, int& e) override { return m_native.WaitProcess(pid, t, e); }
  long ReadPipe(int fd, void* d, std::size_t n) override { return m_native.ReadPipe(fd, d, n); }
  void ClosePipe(int fd) override { m_native.ClosePipe(fd); }
  bool GetEnvironment(const std::string& n, std::string& v) override { return m_native.GetEnvironment(n, v); }
  std::uint32_t TickCount() override { return m_native.TickCount(); }
  std::uint32_t ProcessId() override { return m_native.ProcessId(); }
  std::uint32_t ThreadId() override { return m_native.ThreadId(); }
  std::wstring ExecutablePath() override { return m_native.ExecutablePath(); }
  std::wstring SystemTempFolder() override { return m_native.SystemTempFolder(); }
  bool RedirectStdoutToPipe(const std::wstring& n) override { return m_native.RedirectStdoutToPipe(n); }
  bool WriteStdout(const void* d, std::size_t n) override { return m_native.WriteStdout(d, n); }

 private:
  OS::Platform& m_native;
  OS::Platform* m_previous = nullptr;
};

}  // namespace logtest
