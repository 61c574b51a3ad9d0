// Helpers of the repair server tests: the real korvel-repair-server started
// as a child process on a port it picks (learnt from its port file, stopped
// with SIGTERM and, failing that, SIGKILL when the test ends, whatever the
// outcome), and a scripted client on plain BSD sockets, independent of
// the code under test, that speaks the repair protocol and decodes the
// records it gets.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RepairTestSupport.h"
#include "net/test_sockets.h"
#include "repair/FileTreeSummary.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferMemory.h"
#include "tests/fixtures/test_spawn.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace ServerTest {

using RepairTest::Bytes;
using RepairTest::Cat;
using namespace std::chrono_literals;

inline std::string ServerProgram() {
  return KORVEL_REPAIR_SERVER;
}

// A scratch file's text (empty when missing).
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The server as a child process, its standard output and error in a file.
class ServerProcess {
 public:
  ServerProcess(const std::string& root, std::vector<std::string> extra = {}) : m_folder(MakeFolder()) {
    m_log = m_folder + "/server.log";
    m_portFile = m_folder + "/port";
    std::vector<std::string> arguments{ServerProgram(), "--root",    root,          "--port",  "0",
                                       "--bind",        "127.0.0.1", "--port-file", m_portFile};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    Spawn(arguments);
    WaitForPort();
  }
  ~ServerProcess() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool Running() const { return m_pid > 0 && m_port != 0; }
  std::uint16_t Port() const { return m_port; }
  std::string Log() const { return ReadText(m_log); }
  // The session lines of the log.
  std::vector<std::string> SessionLines() const {
    std::vector<std::string> lines;
    std::istringstream in(Log());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("session ", 0) == 0) lines.push_back(line);
    return lines;
  }
  // Waits until the log holds `count` session lines.
  bool WaitForSessions(std::size_t count, std::chrono::milliseconds limit = 20s) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (SessionLines().size() < count) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  // Ends the server; its exit code (-1 when it had to be killed).
  int Stop() {
    if (m_pid <= 0) return m_exit;
    TestSpawn::Signal(m_pid, SIGTERM);
    m_exit = WaitExit(10s);
    if (m_exit == -2) {
      TestSpawn::Signal(m_pid, SIGKILL);
      WaitExit(10s);
      m_exit = -1;
    }
    m_pid = -1;
    return m_exit;
  }

  // Runs the server program to its end (for start-up refusals).
  static int RunToEnd(const std::vector<std::string>& arguments, std::string& output) {
    ServerProcess probe;
    probe.Spawn(arguments);
    const int exit = probe.WaitExit(30s);
    if (exit == -2) TestSpawn::Signal(probe.m_pid, SIGKILL), probe.WaitExit(10s);
    probe.m_pid = -1;
    output = probe.Log();
    return exit;
  }

 private:
  ServerProcess() : m_folder(MakeFolder()) { m_log = m_folder + "/server.log"; }

  static std::string MakeFolder() {
    char pattern[] = "/tmp/korvel-rserver-XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }
  void Spawn(const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  void WaitForPort() {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (m_pid > 0 && std::chrono::steady_clock::now() < end) {
      const std::string text = ReadText(m_portFile);
      if (!text.empty() && text.back() == '\n') {
        m_port = static_cast<std::uint16_t>(std::stoi(text));
        return;
      }
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  // The exit code, or -2 when the process is still running at the limit.
  int WaitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      if (std::chrono::steady_clock::now() > end) return -2;
      std::this_thread::sleep_for(10ms);
    }
  }

  std::string m_folder;
  std::string m_log;
  std::string m_portFile;
  pid_t m_pid = -1;
  std::uint16_t m_port = 0;
  int m_exit = -1;
};

// One record as the client sees it, with the data decompressed.
struct Record {
  bool compressed = false;
  std::wstring name;
  std::uint32_t checksum = 0;
  std::uint32_t wireLength = 0;
  Bytes data;
};

// A plain connection to the server.
class ScriptedClient {
 public:
  explicit ScriptedClient(std::uint16_t port) {
    m_fd = TestSockets::OpenStream();
    TestSockets::SetReceiveTimeout(m_fd, 20);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~ScriptedClient() { Close(); }
  ScriptedClient(const ScriptedClient&) = delete;
  ScriptedClient& operator=(const ScriptedClient&) = delete;

  bool Connected() const { return m_connected; }
  bool Send(const std::string& bytes) {
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<TestSockets::ByteCount>(bytes.size());
  }
  bool SendWord(std::uint32_t value) {
    std::string word;
    NolkUtil::AppendLe32(value, word);
    return Send(word);
  }
  // Exactly `length` bytes, or fewer when the connection ends first.
  std::string Receive(std::size_t length) {
    std::string bytes;
    char chunk[65536];
    while (bytes.size() < length) {
      const TestSockets::ByteCount got =
          ::recv(m_fd, chunk, std::min(sizeof chunk, length - bytes.size()), 0);
      if (got <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
  }
  bool ReceiveWord(std::uint32_t& value) {
    const std::string word = Receive(4);
    if (word.size() != 4) return false;
    value = NolkUtil::LoadLe32(reinterpret_cast<const unsigned char*>(word.data()));
    return true;
  }
  // True when the server has closed its side (no byte arrives).
  // A close with unread bytes on the server's side arrives as a reset.
  bool SeesEnd() {
    char byte;
    const TestSockets::ByteCount got = ::recv(m_fd, &byte, 1, 0);
    return got == 0 || (got < 0 && TestSockets::LastWasReset());
  }
  bool ReceiveRecord(Record& record) {
    const std::string flag = Receive(1);
    std::uint32_t units = 0;
    if (flag.size() != 1 || !ReceiveWord(units)) return false;
    const std::string name = Receive(std::size_t{units} * 2);
    if (name.size() != std::size_t{units} * 2) return false;
    record.compressed = flag[0] != 0;
    record.name = NolkUtil::DecodeUtf16Le(reinterpret_cast<const unsigned char*>(name.data()), units);
    if (!ReceiveWord(record.checksum) || !ReceiveWord(record.wireLength)) return false;
    const std::string data = Receive(record.wireLength);
    if (data.size() != record.wireLength) return false;
    record.data.assign(data.begin(), data.end());
    if (!record.compressed) return true;
    NolkDataBufferMemoryStatic packed(record.data.data(), static_cast<std::uint32_t>(record.data.size()));
    NolkDataBufferMemoryDynamic plain;
    if (NolkUtil::DecompressData(plain, packed) != NOLKRESULT_OK) return false;
    record.data = plain.Bytes();
    return true;
  }
  void Close() {
    if (m_fd >= 0) TestSockets::Close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
  bool m_connected = false;
};

// The summary stream of a summary.
inline std::string SummaryBytes(const NolkPatch::FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic buffer;
  summary.Save(buffer);
  return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

// The summary a client of this installation would send (the same scan and
// exclusions as the repair client).
inline std::string ScanSummary(const RepairTest::Installation& installation) {
  NolkPatch::FileTreeSummary summary;
  summary.Scan(installation.Wide(), {L"repair.cks", L"unins000.exe"});
  return SummaryBytes(summary);
}

// A whole exchange: handshake, summary, every record. False when the
// exchange breaks off.
inline bool Exchange(std::uint16_t port, const std::string& summary, std::vector<Record>& records) {
  ScriptedClient client(port);
  std::uint32_t answer = 0, total = 0;
  if (!client.Connected() || !client.SendWord(6) || !client.ReceiveWord(answer) || answer != 6) return false;
  if (!client.Send(summary) || !client.ReceiveWord(total)) return false;
  records.clear();
  for (std::uint32_t i = 0; i < total; ++i) {
    Record record;
    if (!client.ReceiveRecord(record)) return false;
    records.push_back(std::move(record));
  }
  return client.SeesEnd();
}

// The records by name.
inline std::map<std::wstring, Record> ByName(const std::vector<Record>& records) {
  std::map<std::wstring, Record> named;
  for (const auto& record : records) named[record.name] = record;
  return named;
}

// The figures of a session line: "sent K of N segments".
inline bool SentFigures(const std::string& line, std::size_t& sent, std::size_t& planned) {
  static const std::regex figures(R"(sent (\d+) of (\d+) segments)");
  std::smatch match;
  if (!std::regex_search(line, match, figures)) return false;
  sent = std::stoul(match[1]);
  planned = std::stoul(match[2]);
  return true;
}

}  // namespace ServerTest
