// Real servers for the internet client's tests, started on 127.0.0.1 at
// ports chosen at run time and always stopped by their destructors: nginx
// for HTTP and HTTPS (with a test CA made by openssl), pyftpdlib for FTP,
// and a small scripted HTTP server for faults a real one does not produce
// (a cut after some bytes, a lying Content-Length, no Content-Length).
#pragma once

#include <string>
#include <vector>

namespace InetTest {

// A fresh folder under the system temporary folder, removed with its
// contents when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Bytes that differ from block to block, so a misplaced block shows.
std::string PatternBytes(std::size_t length, unsigned seed = 1);
// A path as the servers see it: on Windows (under Wine) the Unix path of
// the folder or file, elsewhere the path itself.
std::string ServerPath(const std::string& path);
// Runs a shell command; true when it exits with 0.
bool RunCommand(const std::string& command);

// A child process stopped (SIGTERM, then SIGKILL) when the object goes. On
// Windows it is a Linux program started through Wine, stopped through a
// stop file beside its log.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Start(const std::vector<std::string>& argv, const std::string& logPath);
  void Stop();
  bool Running() const { return m_pid > 0; }

 private:
  int m_pid = -1;
#ifdef _WIN32
  std::string m_stopFile;
  std::string m_endedFile;
#endif
};

// The files of a test certificate authority and the server certificates
// it signed: for 127.0.0.1 and localhost, for another host only, and one
// for 127.0.0.1 that expired in 2020; plus a certificate of a CA nobody
// trusts.
struct TestCertificates {
  std::string caFile;
  std::string serverCert, serverKey;
  std::string otherHostCert, otherHostKey;
  std::string expiredCert, expiredKey;
  std::string untrustedCert, untrustedKey;
};
bool MakeTestCertificates(const std::string& folder, TestCertificates& certificates);

class NginxServer {
 public:
  // Serves `root`; with a certificate and key, over TLS.
  bool Start(const std::string& root, const std::string& cert = std::string(),
             const std::string& key = std::string());
  void Stop() { m_process.Stop(); }
  // Directives added to the server block by the next Start, e.g.
  // "limit_rate 2m;" for a download slow enough to watch.
  void SetServerDirectives(const std::string& directives) { m_directives = directives; }
  int Port() const { return m_port; }
  std::string BaseUrl() const;
  std::string AccessLog() const;
  // One line per request: "<request line> <status> <body bytes sent>
  // range=<Range header> if-range=<If-Range header>". nginx writes a
  // request's line after its answer; stop the server before reading it.
  std::string RangeLog() const;

 private:
  TempFolder m_folder;
  ChildProcess m_process;
  int m_port = 0;
  bool m_tls = false;
  std::string m_directives;
};

class FtpServer {
 public:
  // Anonymous read access to `root`, passive mode; the commands it was
  // sent are logged one per line.
  bool Start(const std::string& root);
  int Port() const { return m_port; }
  std::string BaseUrl() const { return "ftp://127.0.0.1:" + std::to_string(m_port); }
  std::string Commands() const;

 private:
  TempFolder m_folder;
  ChildProcess m_process;
  int m_port = 0;
};

// A scripted HTTP/1.1 server for one resource at /file. Modes:
//   "cut"      the first GET gets a full Content-Length and ETag, then the
//              connection closes after `cutAfter` bytes; later GETs are
//              answered properly, ranges honoured (206) when If-Range
//              matches.
//   "lie"      Content-Length says 10 more bytes than are ever sent.
//   "nolength" HEAD and GET without Content-Length (body ended by close).
//   "norange"  like "cut" but a range request always gets the whole
//              resource with 200.
class ScriptedHttpServer {
 public:
  bool Start(const std::string& mode, const std::string& body, std::size_t cutAfter = 0);
  int Port() const { return m_port; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/file"; }
  // The request lines and Range headers it saw.
  std::string Requests() const;

 private:
  TempFolder m_folder;
  ChildProcess m_process;
  int m_port = 0;
};

// Proxy variables would send 127.0.0.1 traffic elsewhere; the tests clear
// them and use a 10 ms retry pause.
void PrepareClientEnvironment();

}  // namespace InetTest
