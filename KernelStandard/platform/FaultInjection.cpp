// The fault-injecting platform, the parser of KORVEL_FAULTS rules and the
// scoped installer used by tests.
#include "KernelStandard/platform/FaultInjection.h"

#include <charconv>
#include <cstdlib>

#include "KernelStandard/platform/FaultInjectingPlatform.h"

namespace OS {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

template <typename Number>
bool ParseNumber(const std::string& text, Number& number) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, number);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool IsOperationName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const bool alphanumeric = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alphanumeric) return false;
  }
  return true;
}

bool ApplyField(const std::string& key, const std::string& value, FaultRule& rule) {
  if (key == "path") {
    rule.pathContains = value;
    return true;
  }
  if (key == "skip") return ParseNumber(value, rule.skip) && rule.skip >= 0;
  if (key == "count") return ParseNumber(value, rule.count) && rule.count >= -1;
  if (key == "error") return ParseNumber(value, rule.error);
  if (key == "kill") return ParseNumber(value, rule.kill);
  if (key == "value") {
    std::uint64_t number = 0;
    if (!ParseNumber(value, number)) return false;
    rule.value = number;
    return true;
  }
  return false;
}

bool ParseRule(const std::string& text, FaultRule& rule) {
  const std::vector<std::string> fields = Split(text, ':');
  rule.operation = Trim(fields[0]);
  if (!IsOperationName(rule.operation)) return false;
  for (std::size_t i = 1; i < fields.size(); ++i) {
    const std::size_t equals = fields[i].find('=');
    if (equals == std::string::npos) return false;
    if (!ApplyField(Trim(fields[i].substr(0, equals)), Trim(fields[i].substr(equals + 1)), rule))
      return false;
  }
  return true;
}

std::string JoinArguments(const std::vector<std::string>& argv) {
  std::string joined;
  for (const std::string& argument : argv) {
    if (!joined.empty()) joined.push_back(' ');
    joined += argument;
  }
  return joined;
}

}  // namespace

std::vector<FaultRule> ParseFaultRules(const std::string& text) {
  std::vector<FaultRule> rules;
  for (const std::string& part : Split(text, ';')) {
    if (Trim(part).empty()) continue;
    FaultRule rule;
    if (ParseRule(part, rule)) rules.push_back(rule);
  }
  return rules;
}

// --- FaultInjectingPlatform: rule matching ---------------------------------

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner, std::vector<FaultRule> rules)
    : m_inner(inner), m_rules(std::move(rules)) {}

void FaultInjectingPlatform::AddRule(FaultRule rule) {
  std::lock_guard lock(m_mutex);
  m_rules.push_back(std::move(rule));
}

int FaultInjectingPlatform::Calls(const std::string& operation) const {
  std::lock_guard lock(m_mutex);
  const auto found = m_calls.find(operation);
  return found == m_calls.end() ? 0 : found->second;
}

bool FaultInjectingPlatform::Match(const std::string& operation, const std::string& path,
                                   std::optional<std::uint64_t>* reportedValue) {
  std::lock_guard lock(m_mutex);
  ++m_calls[operation];
  const FaultRule* firing = nullptr;
  for (FaultRule& rule : m_rules) {
    if (rule.operation != operation) continue;
    if (!rule.pathContains.empty() && path.find(rule.pathContains) == std::string::npos) continue;
    ++rule.seen;
    const int failuresSoFar = rule.seen - rule.skip;
    if (firing == nullptr && failuresSoFar > 0 && (rule.count < 0 || failuresSoFar <= rule.count)) {
      firing = &rule;
    }
  }
  if (firing == nullptr) return false;
  if (firing->kill != 0) m_inner.KillSelf();
  if (firing->value && reportedValue != nullptr) {
    *reportedValue = firing->value;
    return true;
  }
  SetLastError(firing->error);
  return true;
}

bool FaultInjectingPlatform::ShouldFail(const std::string& operation, const std::string& path) {
  return Match(operation, path, nullptr);
}

bool FaultInjectingPlatform::Fails(const std::string& operation, const std::wstring& path) {
  return Match(operation, ToUtf8(path), nullptr);
}

bool FaultInjectingPlatform::Fails(const std::string& operation, std::FILE* stream) {
  return Match(operation, PathOf(stream), nullptr);
}

bool FaultInjectingPlatform::Fails(const std::string& operation, int fd) {
  return Match(operation, PathOf(fd), nullptr);
}

void FaultInjectingPlatform::Count(const std::string& operation) {
  std::lock_guard lock(m_mutex);
  ++m_calls[operation];
}

void FaultInjectingPlatform::Remember(std::FILE* stream, const std::wstring& path) {
  std::lock_guard lock(m_mutex);
  m_streamPaths[stream] = ToUtf8(path);
}

void FaultInjectingPlatform::Remember(int fd, const std::wstring& path) {
  std::lock_guard lock(m_mutex);
  m_descriptorPaths[fd] = ToUtf8(path);
}

std::string FaultInjectingPlatform::PathOf(std::FILE* stream) {
  std::lock_guard lock(m_mutex);
  const auto found = m_streamPaths.find(stream);
  return found == m_streamPaths.end() ? std::string() : found->second;
}

std::string FaultInjectingPlatform::PathOf(int fd) {
  std::lock_guard lock(m_mutex);
  const auto found = m_descriptorPaths.find(fd);
  return found == m_descriptorPaths.end() ? std::string() : found->second;
}

// --- FaultInjectingPlatform: file system ------------------------------------

std::string FaultInjectingPlatform::NativePath(const std::wstring& path) {
  Count("NativePath");
  return m_inner.NativePath(path);
}

bool FaultInjectingPlatform::Stat(const std::wstring& path, FileInfo& info) {
  return !Fails("Stat", path) && m_inner.Stat(path, info);
}

bool FaultInjectingPlatform::Exists(const std::wstring& path) {
  return !Fails("Exists", path) && m_inner.Exists(path);
}

bool FaultInjectingPlatform::SetPermissions(const std::wstring& path, std::uint32_t permissions) {
  return !Fails("SetPermissions", path) && m_inner.SetPermissions(path, permissions);
}

bool FaultInjectingPlatform::SetReadOnlyFlag(const std::wstring& path, bool readOnly) {
  return !Fails("SetReadOnlyFlag", path) && m_inner.SetReadOnlyFlag(path, readOnly);
}

bool FaultInjectingPlatform::CreateDirectory(const std::wstring& path) {
  return !Fails("CreateDirectory", path) && m_inner.CreateDirectory(path);
}

bool FaultInjectingPlatform::RemoveDirectory(const std::wstring& path) {
  return !Fails("RemoveDirectory", path) && m_inner.RemoveDirectory(path);
}

bool FaultInjectingPlatform::DeleteFile(const std::wstring& path) {
  return !Fails("DeleteFile", path) && m_inner.DeleteFile(path);
}

bool FaultInjectingPlatform::MoveFile(const std::wstring& from, const std::wstring& to) {
  return !Fails("MoveFile", from + L"\n" + to) && m_inner.MoveFile(from, to);
}

bool FaultInjectingPlatform::ReplaceFile(const std::wstring& from, const std::wstring& to) {
  return !Fails("ReplaceFile", from + L"\n" + to) && m_inner.ReplaceFile(from, to);
}

bool FaultInjectingPlatform::CopyFile(const std::wstring& from, const std::wstring& to, bool overwrite) {
  return !Fails("CopyFile", from + L"\n" + to) && m_inner.CopyFile(from, to, overwrite);
}

bool FaultInjectingPlatform::IsFileInUse(const std::wstring& path) {
  return !Fails("IsFileInUse", path) && m_inner.IsFileInUse(path);
}

bool FaultInjectingPlatform::ListDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return !Fails("ListDirectory", path) && m_inner.ListDirectory(path, entries);
}

bool FaultInjectingPlatform::GetFreeBytes(const std::wstring& path, std::uint64_t& freeBytes) {
  std::optional<std::uint64_t> reported;
  if (Match("GetFreeBytes", ToUtf8(path), &reported)) {
    if (!reported) return false;
    freeBytes = *reported;
    return true;
  }
  return m_inner.GetFreeBytes(path, freeBytes);
}

bool FaultInjectingPlatform::SetCurrentDirectory(const std::wstring& path) {
  return !Fails("SetCurrentDirectory", path) && m_inner.SetCurrentDirectory(path);
}

std::wstring FaultInjectingPlatform::GetCurrentDirectory() {
  if (Fails("GetCurrentDirectory", std::wstring())) return {};
  return m_inner.GetCurrentDirectory();
}

// --- FaultInjectingPlatform: streams and descriptors ------------------------

std::FILE* FaultInjectingPlatform::OpenStream(const std::wstring& path, OpenMode mode) {
  if (Fails("OpenStream", path)) return nullptr;
  std::FILE* stream = m_inner.OpenStream(path, mode);
  if (stream != nullptr) Remember(stream, path);
  return stream;
}

std::size_t FaultInjectingPlatform::ReadStream(std::FILE* stream, void* data, std::size_t length) {
  return Fails("ReadStream", stream) ? 0 : m_inner.ReadStream(stream, data, length);
}

std::size_t FaultInjectingPlatform::WriteStream(std::FILE* stream, const void* data, std::size_t length) {
  return Fails("WriteStream", stream) ? 0 : m_inner.WriteStream(stream, data, length);
}

bool FaultInjectingPlatform::SeekStream(std::FILE* stream, std::uint64_t position) {
  return !Fails("SeekStream", stream) && m_inner.SeekStream(stream, position);
}

bool FaultInjectingPlatform::StreamLength(std::FILE* stream, std::uint64_t& length) {
  return !Fails("StreamLength", stream) && m_inner.StreamLength(stream, length);
}

bool FaultInjectingPlatform::TruncateStream(std::FILE* stream, std::uint64_t length) {
  return !Fails("TruncateStream", stream) && m_inner.TruncateStream(stream, length);
}

bool FaultInjectingPlatform::FlushStream(std::FILE* stream, bool commit) {
  return !Fails("FlushStream", stream) && m_inner.FlushStream(stream, commit);
}

void FaultInjectingPlatform::CloseStream(std::FILE* stream) {
  Count("CloseStream");
  {
    std::lock_guard lock(m_mutex);
    m_streamPaths.erase(stream);
  }
  m_inner.CloseStream(stream);
}

int FaultInjectingPlatform::OpenDescriptor(const std::wstring& path, OpenMode mode) {
  if (Fails("OpenDescriptor", path)) return -1;
  const int fd = m_inner.OpenDescriptor(path, mode);
  if (fd >= 0) Remember(fd, path);
  return fd;
}

long FaultInjectingPlatform::ReadDescriptor(int fd, void* data, std::size_t length) {
  return Fails("ReadDescriptor", fd) ? -1 : m_inner.ReadDescriptor(fd, data, length);
}

long FaultInjectingPlatform::WriteDescriptor(int fd, const void* data, std::size_t length) {
  return Fails("WriteDescriptor", fd) ? -1 : m_inner.WriteDescriptor(fd, data, length);
}

bool FaultInjectingPlatform::SeekDescriptor(int fd, std::uint64_t position) {
  return !Fails("SeekDescriptor", fd) && m_inner.SeekDescriptor(fd, position);
}

void FaultInjectingPlatform::CloseDescriptor(int fd) {
  Count("CloseDescriptor");
  {
    std::lock_guard lock(m_mutex);
    m_descriptorPaths.erase(fd);
  }
  m_inner.CloseDescriptor(fd);
}

// --- FaultInjectingPlatform: processes and environment ----------------------

bool FaultInjectingPlatform::SpawnWithPipe(const std::vector<std::string>& argv, SpawnedProcess& child) {
  return !Match("SpawnWithPipe", JoinArguments(argv), nullptr) && m_inner.SpawnWithPipe(argv, child);
}

bool FaultInjectingPlatform::SpawnDetached(const std::vector<std::string>& argv, int& pid) {
  return !Match("SpawnDetached", JoinArguments(argv), nullptr) && m_inner.SpawnDetached(argv, pid);
}

bool FaultInjectingPlatform::SpawnInFolder(const std::vector<std::string>& argv, const std::wstring& folder,
                                           SpawnedProcess& child) {
  return !Match("SpawnInFolder", JoinArguments(argv), nullptr) && m_inner.SpawnInFolder(argv, folder, child);
}

bool FaultInjectingPlatform::WaitProcess(int pid, int timeoutMs, int& exitCode) {
  return !Match("WaitProcess", std::string(), nullptr) && m_inner.WaitProcess(pid, timeoutMs, exitCode);
}

long FaultInjectingPlatform::ReadPipe(int fd, void* data, std::size_t length) {
  return Match("ReadPipe", std::string(), nullptr) ? -1 : m_inner.ReadPipe(fd, data, length);
}

void FaultInjectingPlatform::ClosePipe(int fd) {
  Count("ClosePipe");
  m_inner.ClosePipe(fd);
}

bool FaultInjectingPlatform::GetEnvironment(const std::string& name, std::string& value) {
  return !Match("GetEnvironment", name, nullptr) && m_inner.GetEnvironment(name, value);
}

std::uint32_t FaultInjectingPlatform::TickCount() {
  Count("TickCount");
  return m_inner.TickCount();
}

std::uint32_t FaultInjectingPlatform::ProcessId() {
  Count("ProcessId");
  return m_inner.ProcessId();
}

std::uint32_t FaultInjectingPlatform::ThreadId() {
  Count("ThreadId");
  return m_inner.ThreadId();
}

std::wstring FaultInjectingPlatform::ExecutablePath() {
  if (Match("ExecutablePath", std::string(), nullptr)) return {};
  return m_inner.ExecutablePath();
}

std::wstring FaultInjectingPlatform::SystemTempFolder() {
  if (Match("SystemTempFolder", std::string(), nullptr)) return {};
  return m_inner.SystemTempFolder();
}

void FaultInjectingPlatform::DebugOutput(const std::string& text) {
  Count("DebugOutput");
  m_inner.DebugOutput(text);
}

bool FaultInjectingPlatform::RedirectStdoutToPipe(const std::wstring& pipeName) {
  return !Fails("RedirectStdoutToPipe", pipeName) && m_inner.RedirectStdoutToPipe(pipeName);
}

bool FaultInjectingPlatform::WriteStdout(const void* data, std::size_t length) {
  return !Match("WriteStdout", std::string(), nullptr) && m_inner.WriteStdout(data, length);
}

void FaultInjectingPlatform::Sleep(std::uint32_t milliseconds) {
  if (Match("Sleep", std::string(), nullptr)) return;
  m_inner.Sleep(milliseconds);
}

std::unique_ptr<NamedMutex> FaultInjectingPlatform::CreateNamedMutex(const std::string& name,
                                                                     bool initialOwner, bool& existed) {
  existed = false;
  if (Match("CreateNamedMutex", name, nullptr)) return nullptr;
  return m_inner.CreateNamedMutex(name, initialOwner, existed);
}

std::unique_ptr<SharedMemory> FaultInjectingPlatform::CreateSharedMemory(const std::string& name,
                                                                         std::size_t size, bool& existed) {
  existed = false;
  if (Match("CreateSharedMemory", name, nullptr)) return nullptr;
  return m_inner.CreateSharedMemory(name, size, existed);
}

std::unique_ptr<SharedMemory> FaultInjectingPlatform::OpenSharedMemory(const std::string& name) {
  if (Match("OpenSharedMemory", name, nullptr)) return nullptr;
  return m_inner.OpenSharedMemory(name);
}

std::unique_ptr<NamedMutex> FaultInjectingPlatform::OpenAccessMutex(const std::string& name, bool exclusive,
                                                                    bool& created) {
  created = false;
  if (Match("OpenAccessMutex", name, nullptr)) return nullptr;
  return m_inner.OpenAccessMutex(name, exclusive, created);
}

bool FaultInjectingPlatform::StartThread(ThreadEntry entry, void* argument, std::size_t stackSize) {
  return !Match("StartThread", std::string(), nullptr) && m_inner.StartThread(entry, argument, stackSize);
}

bool FaultInjectingPlatform::SetThreadPriority(std::uint32_t threadId, int priority) {
  return !Match("SetThreadPriority", std::string(), nullptr) && m_inner.SetThreadPriority(threadId, priority);
}

bool FaultInjectingPlatform::GetThreadPriority(std::uint32_t threadId, int& priority) {
  return !Match("GetThreadPriority", std::string(), nullptr) && m_inner.GetThreadPriority(threadId, priority);
}

bool FaultInjectingPlatform::IsProcessRunning(std::uint32_t processId) {
  return !Match("IsProcessRunning", std::string(), nullptr) && m_inner.IsProcessRunning(processId);
}

bool FaultInjectingPlatform::FindProgram(const std::string& name, std::string& path) {
  return !Match("FindProgram", name, nullptr) && m_inner.FindProgram(name, path);
}

bool FaultInjectingPlatform::RunElevated(const std::wstring& program, const std::wstring& arguments) {
  return !Match("RunElevated", ToUtf8(program), nullptr) && m_inner.RunElevated(program, arguments);
}

bool FaultInjectingPlatform::StartNetwork() {
  return !Match("StartNetwork", std::string(), nullptr) && m_inner.StartNetwork();
}

bool FaultInjectingPlatform::IsTerminal(int fd) {
  return m_inner.IsTerminal(fd);
}

bool FaultInjectingPlatform::InstallInterruptHandler(void (*handler)()) {
  return m_inner.InstallInterruptHandler(handler);
}

bool FaultInjectingPlatform::DebuggerAttached() {
  return m_inner.DebuggerAttached();
}

bool FaultInjectingPlatform::InstallFatalSignalHandler(FatalSignalHandler handler) {
  return m_inner.InstallFatalSignalHandler(handler);
}

void FaultInjectingPlatform::RestoreFatalSignalDefaults() {
  m_inner.RestoreFatalSignalDefaults();
}

// Called from a signal handler: no rule matching (it takes a lock).
bool FaultInjectingPlatform::WriteCrashFile(const char* nativePath, const void* data, std::size_t length) {
  return m_inner.WriteCrashFile(nativePath, data, length);
}

void FaultInjectingPlatform::ExitImmediately(int exitCode) {
  m_inner.ExitImmediately(exitCode);
  std::_Exit(exitCode);  // not reached: the inner platform ends the process
}

void FaultInjectingPlatform::KillSelf() {
  m_inner.KillSelf();
  std::abort();  // not reached: the inner platform ends the process
}

// --- Installation helpers ----------------------------------------------------

std::unique_ptr<FaultInjectingPlatform> MakeFaultInjector(Platform& inner, std::vector<FaultRule> rules) {
  return std::make_unique<FaultInjectingPlatform>(inner, std::move(rules));
}

Platform& AsPlatform(FaultInjectingPlatform& injector) {
  return injector;
}

bool InjectedFault(const std::string& operation, const std::string& path) {
  Platform* layer = &Current();
  while (auto* injector = dynamic_cast<FaultInjectingPlatform*>(layer)) {
    if (injector->ShouldFail(operation, path)) return true;
    layer = &injector->Inner();
  }
  return false;
}

ScopedFaults::ScopedFaults() {
  m_previous = &Current();
  m_injector = MakeFaultInjector(*m_previous, {});
  Install(m_injector.get());
}

ScopedFaults::~ScopedFaults() {
  Install(m_previous);
}

void ScopedFaults::Add(FaultRule rule) {
  m_injector->AddRule(std::move(rule));
}

int ScopedFaults::Calls(const std::string& operation) const {
  return m_injector->Calls(operation);
}

}  // namespace OS
