#include "inet_test_servers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "KernelStandard/platform/Platform.h"
#include "net/InternetSession.h"
#include "test_sockets.h"
#include "tests/KernelStandard/posix_test_shims.h"

namespace InetTest {
namespace {

using namespace std::chrono_literals;

const char* const kPython = "/usr/bin/python3";

// Waits for a child's port file; the servers bind port 0 and write the
// port the system gave them, so no port is guessed.
int WaitForPortFile(const std::string& path) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(path);
    int port = 0;
    if (in >> port && port > 0) return port;
    std::this_thread::sleep_for(50ms);
  }
  return 0;
}

const char* const kFtpScript = R"PY(
import sys, logging
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, portfile, cmdlog = sys.argv[1], sys.argv[2], sys.argv[3]
log = open(cmdlog, "a", buffering=1)
class Handler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        log.write(line + "\n")
        return super().pre_process_command(line, cmd, arg)
auth = DummyAuthorizer()
auth.add_anonymous(root)
Handler.authorizer = auth
Handler.passive_ports = None
logging.basicConfig(level=logging.WARNING)
server = FTPServer(("127.0.0.1", 0), Handler)
with open(portfile + ".tmp", "w") as f: f.write(str(server.address[1]))
import os; os.rename(portfile + ".tmp", portfile)
server.serve_forever()
)PY";

const char* const kHttpScript = R"PY(
import sys, socket, os
mode, bodyfile, cut, portfile, reqlog = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
body = open(bodyfile, "rb").read()
etag = '"v1"'
log = open(reqlog, "a", buffering=1)
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0)); s.listen(8)
with open(portfile + ".tmp", "w") as f: f.write(str(s.getsockname()[1]))
os.rename(portfile + ".tmp", portfile)
gets = 0
while True:
    c, _ = s.accept()
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = c.recv(4096)
        if not chunk: break
        data += chunk
    lines = data.decode("latin-1").split("\r\n")
    method = lines[0].split(" ")[0] if lines[0] else ""
    headers = {}
    for l in lines[1:]:
        if ":" in l:
            k, v = l.split(":", 1); headers[k.strip().lower()] = v.strip()
    log.write(lines[0] + "\n")
    if "range" in headers: log.write("Range: " + headers["range"] + "\n")
    if "if-range" in headers: log.write("If-Range: " + headers["if-range"] + "\n")
    head = "HTTP/1.1 200 OK\r\nETag: " + etag + "\r\nConnection: close\r\n"
    payload = body
    if mode == "nolength":
        c.sendall((head + "\r\n").encode()); 
        if method == "GET": c.sendall(payload)
        c.close(); continue
    if mode == "lie":
        c.sendall((head + "Content-Length: %d\r\n\r\n" % (len(body) + 10)).encode())
        if method == "GET": c.sendall(payload)
        c.close(); continue
    if method == "GET": gets += 1
    rng = headers.get("range", "")
    if rng.startswith("bytes=") and mode == "cut" and headers.get("if-range") == etag:
        start = int(rng[6:].split("-")[0])
        part = body[start:]
        c.sendall(("HTTP/1.1 206 Partial Content\r\nETag: %s\r\nContent-Range: bytes %d-%d/%d\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % (etag, start, len(body) - 1, len(body), len(part))).encode())
        c.sendall(part); c.close(); continue
    c.sendall((head + "Content-Length: %d\r\n\r\n" % len(body)).encode())
    if method == "GET":
        if gets == 1 and cut > 0:
            c.sendall(payload[:cut])
        else:
            c.sendall(payload)
    c.close()
)PY";

}  // namespace

TempFolder::TempFolder() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
    std::string name = "korvel-inet-";
    for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof(kLetters) - 1)];
    std::error_code error;
    // create_directory is false when the name is taken, so each folder is new.
    if (std::filesystem::create_directory(base / name, error)) m_path = (base / name).generic_string();
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string PatternBytes(std::size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < length; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  return bytes;
}

bool RunCommand(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

#ifdef _WIN32
// Under Wine a Windows program starts a Linux program by its Unix path, but
// gets no handle to wait for or end it. So the server runs beside a small
// shell loop that ends it once the stop file appears (or after ten minutes,
// so a crashed test leaves nothing behind), and the loop reports the end in
// a second file.
std::string ServerPath(const std::string& path) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  static const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr || path.empty()) return path;
  char* name = unixName(OS::FromUtf8(path).c_str());
  if (name == nullptr) return path;
  std::string result = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

namespace {
// One word for the shell, in single quotes.
std::string ShellWord(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logPath) {
  if (ServerPath("C:\\") == "C:\\") return false;  // not under Wine: no Linux programs to start
  m_stopFile = logPath + ".stop";
  m_endedFile = logPath + ".ended";
  std::error_code ignored;
  std::filesystem::remove(m_stopFile, ignored);
  std::filesystem::remove(m_endedFile, ignored);
  std::string command;
  for (const std::string& word : argv)
    command += ShellWord(word.find(':') == 1 ? ServerPath(word) : word) + " ";
  const std::string stop = ShellWord(ServerPath(m_stopFile));
  const std::string script =
      "exec >>" + ShellWord(ServerPath(logPath)) + " 2>&1\n" + command + "&\nchild=$!\ni=0\nwhile [ ! -e " +
      stop +
      " ] && [ $i -lt 6000 ] && kill -0 $child 2>/dev/null; do sleep 0.1; i=$((i+1)); done\n"
      "kill $child 2>/dev/null\nsleep 0.3\nkill -9 $child 2>/dev/null\n"
      "wait $child\n: >" +
      ShellWord(ServerPath(m_endedFile)) + "\n";
  WriteFile(logPath + ".sh", script);
  std::wstring line = L"/bin/sh " + OS::FromUtf8(ServerPath(logPath + ".sh"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(L"/bin/sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
    return false;
  if (started.hProcess != nullptr) ::CloseHandle(started.hProcess);
  if (started.hThread != nullptr) ::CloseHandle(started.hThread);
  m_pid = 1;
  return true;
}

void ChildProcess::Stop() {
  if (m_pid <= 0) return;
  WriteFile(m_stopFile, "");
  for (int i = 0; i < 150 && !std::filesystem::exists(m_endedFile); ++i) std::this_thread::sleep_for(20ms);
  m_pid = -1;
}
#else
std::string ServerPath(const std::string& path) {
  return path;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logPath) {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  m_pid = pid;
  return true;
}

void ChildProcess::Stop() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return;
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(m_pid, SIGKILL);
  int status = 0;
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
}
#endif

bool MakeTestCertificates(const std::string& folder, TestCertificates& c) {
  const std::string d = folder + "/";
  c.caFile = d + "ca.pem";
  c.serverCert = d + "server.pem";
  c.serverKey = d + "server.key";
  c.otherHostCert = d + "other.pem";
  c.otherHostKey = d + "other.key";
  c.expiredCert = d + "expired.pem";
  c.expiredKey = d + "expired.key";
  c.untrustedCert = d + "untrusted.pem";
  c.untrustedKey = d + "untrusted.key";
  WriteFile(d + "local.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
  WriteFile(d + "other.ext", "subjectAltName=DNS:other.example\n");
  WriteFile(d + "ca.cnf",
            "[ca]\ndefault_ca=test\n[test]\ndir=" + folder +
                "\ndatabase=$dir/index.txt\nnew_certs_dir=$dir\nserial=$dir/serial\ndefault_md=sha256\n"
                "policy=any\ncopy_extensions=none\nx509_extensions=ext\n[any]\ncommonName=supplied\n"
                "[ext]\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n");
  WriteFile(d + "index.txt", "");
  WriteFile(d + "serial", "1000\n");
  const std::string o = "openssl ";
  auto request = [&](const std::string& key, const std::string& csr, const std::string& cn) {
    return RunCommand(o + "req -newkey rsa:2048 -nodes -keyout " + key + " -out " + csr + " -subj /CN=" + cn);
  };
  auto sign = [&](const std::string& csr, const std::string& cert, const std::string& ext,
                  const std::string& ca, const std::string& caKey) {
    return RunCommand(o + "x509 -req -in " + csr + " -CA " + ca + " -CAkey " + caKey +
                      " -CAcreateserial -out " + cert + " -days 2 -extfile " + ext);
  };
  return RunCommand(o + "req -x509 -newkey rsa:2048 -nodes -keyout " + d + "ca.key -out " + c.caFile +
                    " -days 2 -subj /CN=KorvelTestCA") &&
         RunCommand(o + "req -x509 -newkey rsa:2048 -nodes -keyout " + d + "rogue.key -out " + d +
                    "rogue.pem -days 2 -subj /CN=RogueCA") &&
         request(c.serverKey, d + "server.csr", "127.0.0.1") &&
         sign(d + "server.csr", c.serverCert, d + "local.ext", c.caFile, d + "ca.key") &&
         request(c.otherHostKey, d + "other.csr", "other.example") &&
         sign(d + "other.csr", c.otherHostCert, d + "other.ext", c.caFile, d + "ca.key") &&
         request(c.untrustedKey, d + "untrusted.csr", "127.0.0.1") &&
         sign(d + "untrusted.csr", c.untrustedCert, d + "local.ext", d + "rogue.pem", d + "rogue.key") &&
         request(c.expiredKey, d + "expired.csr", "127.0.0.1") &&
         RunCommand(o + "ca -batch -config " + d + "ca.cnf -cert " + c.caFile + " -keyfile " + d +
                    "ca.key -startdate 20200101000000Z -enddate 20200201000000Z -in " + d +
                    "expired.csr -out " + c.expiredCert);
}

// nginx cannot be told port 0 and report the port; a free port is taken
// from the system just before, and a start that loses the race is tried
// again with another.
bool NginxServer::Start(const std::string& root, const std::string& cert, const std::string& key) {
  m_tls = !cert.empty();
  // The configuration names the files as nginx sees them.
  const std::string d = ServerPath(m_folder.Path());
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int probe = TestSockets::OpenStream();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    TestSockets::Close(probe);
    const std::string tls = m_tls ? " ssl;\n ssl_certificate " + ServerPath(cert) +
                                        ";\n ssl_certificate_key " + ServerPath(key) + ";\n"
                                  : ";\n";
    WriteFile(m_folder / "nginx.conf",
              "daemon off;\nmaster_process off;\npid " + d + "/nginx.pid;\nerror_log " + d +
                  "/error.log;\nevents { worker_connections 64; }\nhttp {\n access_log " + d +
                  "/access.log;\n log_format ranges escape=none '$request $status $body_bytes_sent "
                  "range=$http_range if-range=$http_if_range';\n access_log " +
                  d + "/ranges.log ranges;\n client_body_temp_path " + d + "/body;\n proxy_temp_path " + d +
                  "/proxy;\n fastcgi_temp_path " + d + "/fcgi;\n uwsgi_temp_path " + d +
                  "/uwsgi;\n scgi_temp_path " + d +
                  "/scgi;\n types { text/plain txt; application/zip zip; }\n server {\n listen 127.0.0.1:" +
                  std::to_string(m_port) + tls + " root " + ServerPath(root) + ";\n " + m_directives +
                  "\n }\n}\n");
    if (!m_process.Start({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"},
                         m_folder / "stdout.log"))
      return false;
    for (int i = 0; i < 100; ++i) {
      const int s = TestSockets::OpenStream();
      const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      TestSockets::Close(s);
      if (up) return true;
      std::this_thread::sleep_for(30ms);
    }
    m_process.Stop();
  }
  return false;
}

std::string NginxServer::BaseUrl() const {
  return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::string NginxServer::AccessLog() const {
  return ReadFile(m_folder / "access.log");
}

std::string NginxServer::RangeLog() const {
  return ReadFile(m_folder / "ranges.log");
}

bool FtpServer::Start(const std::string& root) {
  WriteFile(m_folder / "ftp.py", kFtpScript);
  if (!m_process.Start({kPython, m_folder / "ftp.py", root, m_folder / "port", m_folder / "commands.log"},
                       m_folder / "server.log"))
    return false;
  m_port = WaitForPortFile(m_folder / "port");
  return m_port > 0;
}

std::string FtpServer::Commands() const {
  return ReadFile(m_folder / "commands.log");
}

bool ScriptedHttpServer::Start(const std::string& mode, const std::string& body, std::size_t cutAfter) {
  WriteFile(m_folder / "http.py", kHttpScript);
  WriteFile(m_folder / "body", body);
  if (!m_process.Start({kPython, m_folder / "http.py", mode, m_folder / "body", std::to_string(cutAfter),
                        m_folder / "port", m_folder / "requests.log"},
                       m_folder / "server.log"))
    return false;
  m_port = WaitForPortFile(m_folder / "port");
  return m_port > 0;
}

std::string ScriptedHttpServer::Requests() const {
  return ReadFile(m_folder / "requests.log");
}

void PrepareClientEnvironment() {
  for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                           "FTP_PROXY", "ALL_PROXY"})
    ::unsetenv(name);
  NolkInetInternal::SetRetryPauseMilliseconds(10);
}

}  // namespace InetTest
