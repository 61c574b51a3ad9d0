#include "KernelStandard/platform/win32/Win32Paths.h"

#include <vector>

#include "KernelStandard/platform/win32/Win32Api.h"

namespace OS::Win32Paths {
namespace {

// The classic calls take MAX_PATH (260) characters; folders leave room for
// an 8.3 name (248). Longer paths need the prefixed full form.
constexpr std::size_t kClassicLimit = 240;

bool HasLongPrefix(const std::wstring& path) {
  return path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed + 1, buffer.data(), nullptr);
  if (length == 0 || length > needed) return path;
  return std::wstring(buffer.data(), length);
}

}  // namespace

std::wstring ToNative(const std::wstring& path) {
  std::wstring native = path;
  for (wchar_t& c : native) {
    if (c == L'/') c = L'\\';
  }
  if (native.size() < kClassicLimit || HasLongPrefix(native)) return native;
  // The prefixed form switches off the system's clean-up of "." and ".."
  // and of doubled separators, so the full path is made first.
  const std::wstring full = FullPath(native);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring ToNative(const char* nativePath) {
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, nativePath, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, nativePath, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return ToNative(wide);
}

std::wstring WithoutTrailingSeparator(const std::wstring& path) {
  std::wstring trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == L'\\' || trimmed.back() == L'/')) {
    if (trimmed.size() == 3 && trimmed[1] == L':') break;  // "C:\"
    trimmed.pop_back();
  }
  return trimmed;
}

}  // namespace OS::Win32Paths
