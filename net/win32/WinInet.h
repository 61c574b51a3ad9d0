// The WinINet pieces the Windows internet client shares: the process-wide
// session handle, a handle that closes itself, and the text of a WinINet
// error for the log.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace NolkInetInternal {

// The session opened by CreateInternetSession (null before, or when it
// failed).
HINTERNET SessionHandle();

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle = nullptr) : m_handle(handle) {}
  ~InternetHandle() {
    if (m_handle != nullptr) InternetCloseHandle(m_handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  // Takes over another handle, closing the one held.
  void Reset(HINTERNET handle) {
    if (m_handle != nullptr) InternetCloseHandle(m_handle);
    m_handle = handle;
  }
  HINTERNET Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }

 private:
  HINTERNET m_handle;
};

// The system's message for a WinINet or system error code.
std::string InternetErrorText(DWORD code);

}  // namespace NolkInetInternal
