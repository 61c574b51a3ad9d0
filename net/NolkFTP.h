// An FTP client on one control connection (libcurl underneath, WinINet on
// Windows: net/win32/WinInetFtp.cpp): log in,
// change and read back the remote directory, ask a file's size, and fetch
// a file into a data buffer, resuming with REST from the buffer's length.
// A dropped connection is opened again with the stored login.
//
// Remote paths are taken relative to the login folder, as an FTP URL's
// path is; the folder recorded by SetDirectory is put in front of a path
// that does not start with "/".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/DownloadURLCallback.h"
#include "stream/NolkDataBuffer.h"

namespace NolkInetInternal {
class FtpConnection;  // the library's connection
}

class NolkFTP {
 public:
  NolkFTP();
  ~NolkFTP();
  NolkFTP(const NolkFTP&) = delete;
  NolkFTP& operator=(const NolkFTP&) = delete;

  // Logs in at (host, port; 21 when 0 or below); any earlier connection is
  // closed first. 3 on failure.
  NolkResult Open(const std::string& host, const std::string& user, const std::string& password, bool passive,
                  std::int32_t port = 21);
  // Fetches the file at `path` into the destination from the destination's
  // current length on (REST), or from byte 0 when the server cannot resume.
  NolkResult GetFileAtPath(const std::string& path, NolkDataBuffer& destination,
                           DownloadURLCallback* callback);
  NolkResult GetRemoteFileSize(const std::string& path, std::uint64_t& size);
  NolkResult SetDirectory(const std::string& path);
  // After a dropped connection: logs in again (and returns to the recorded
  // folder when asked). Always 3, the result of the failure that led here.
  NolkResult Reconnect(bool restoreDirectory);

  bool IsConnected() const { return m_connected; }
  const std::string& CurrentDirectory() const { return m_currentDirectory; }

 private:
  std::string UrlOf(const std::string& path) const;
  void PrepareCommand(const std::string& path);
  // The library's result codes: 0 is success.
  int RunCommand();
  int FetchOnce(const std::string& path, NolkDataBuffer& destination, DownloadURLCallback* callback,
                std::uint64_t start, bool& cancelled, NolkResult& writeResult, bool& bodyStarted);
  // Whether the library's code says the server refused to resume; the
  // library's text for a code.
  static bool IsResumeRefusal(int code);
  std::string ErrorText(int code) const;
  bool ResumeStart(const std::string& path, NolkDataBuffer& destination, std::uint64_t& start);
  NolkResult FetchFile(const std::string& path, NolkDataBuffer& destination, DownloadURLCallback* callback,
                       std::uint64_t start);

  std::unique_ptr<NolkInetInternal::FtpConnection> m_connection;
  bool m_connected = false;
  std::string m_host;
  std::string m_user;
  std::string m_password;
  std::int32_t m_port = 21;
  std::string m_currentDirectory;
  bool m_passive = true;
  int m_lastError = 0;
};
