// Helpers of the Windows platform tests: a fresh folder under the user's
// temporary folder, and a file held open by a raw handle with a chosen
// sharing, the way another program holds it.
#pragma once

#ifdef _WIN32

#include <string>

#include "KernelStandard/platform/win32/Win32Api.h"

namespace Win32Test {

class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    m_path.assign(base, length);
    if (!m_path.empty() && m_path.back() == L'\\') m_path.pop_back();
    m_path += L"\\korvel-win32-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(s_counter++);
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~TempFolder() { RemoveTree(L"\\\\?\\" + m_path); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::wstring Path(const std::wstring& relative = L"") const {
    return relative.empty() ? m_path : m_path + L"\\" + relative;
  }

 private:
  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = folder + L"\\" + name;
        ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          RemoveTree(full);
        } else {
          ::DeleteFileW(full.c_str());
        }
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
  }

  static inline int s_counter = 0;
  std::wstring m_path;
};

// A file opened as another program would open it.
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD access, DWORD share)
      : m_handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr)) {}
  ~HeldFile() { Close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool Open() const { return m_handle != INVALID_HANDLE_VALUE; }
  void Close() {
    if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE m_handle;
};

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  std::FILE* stream = OS::Current().OpenStream(path, OS::OpenMode::CreateTruncate);
  if (stream == nullptr) return false;
  const bool written = OS::Current().WriteStream(stream, bytes.data(), bytes.size()) == bytes.size();
  OS::Current().CloseStream(stream);
  return written;
}

inline std::string ReadWholeFile(const std::wstring& path) {
  std::FILE* stream = OS::Current().OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return "<missing>";
  std::string bytes;
  char buffer[4096];
  for (std::size_t got; (got = OS::Current().ReadStream(stream, buffer, sizeof(buffer))) > 0;)
    bytes.append(buffer, got);
  OS::Current().CloseStream(stream);
  return bytes;
}

}  // namespace Win32Test

#endif  // _WIN32
