#include "KernelStandard/PathUtil.h"

#include <algorithm>

#include "KernelStandard/TextConvert.h"

namespace NolkUtil {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'/' || c == L'\\';
}

wchar_t FoldAsciiCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return FoldAsciiCase(x) == FoldAsciiCase(y);
         });
}

// Position of the '.' that starts the extension, or npos when the last
// component has none.
std::wstring::size_type ExtensionDot(const std::wstring& path) {
  const auto dot = path.rfind(L'.');
  if (dot == std::wstring::npos) return std::wstring::npos;
  const auto separator = path.find_last_of(L"/\\");
  if (separator != std::wstring::npos && separator > dot) return std::wstring::npos;
  return dot;
}

}  // namespace

std::wstring NormalizeSeparators(std::wstring path, wchar_t separator) {
  std::replace_if(path.begin(), path.end(), IsSeparator, separator);
  return path;
}

std::wstring RelativePath(std::wstring base, std::wstring path) {
  base = NormalizeSeparators(std::move(base));
  path = NormalizeSeparators(std::move(path));
  const auto common = std::mismatch(base.begin(), base.end(), path.begin(), path.end());
  auto start = static_cast<std::wstring::size_type>(common.second - path.begin());
  if (start < path.size() && path[start] == L'\\') ++start;
  return path.substr(start);
}

std::string FileNamePart(const std::wstring& path) {
  const auto separator = path.find_last_of(L"/\\");
  return ToNarrow(separator == std::wstring::npos ? path : path.substr(separator + 1));
}

bool HasExtension(const std::wstring& path, std::wstring extension) {
  if (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  const auto dot = ExtensionDot(path);
  if (dot == std::wstring::npos) return extension.empty();
  if (extension.empty()) return false;
  return EqualsIgnoringAsciiCase(path.substr(dot + 1), extension);
}

std::string StripExtension(const std::wstring& path) {
  const auto dot = ExtensionDot(path);
  return ToNarrow(dot == std::wstring::npos ? path : path.substr(0, dot));
}

std::string GetExtension(const std::wstring& path) {
  const auto dot = ExtensionDot(path);
  return dot == std::wstring::npos ? std::string() : ToNarrow(path.substr(dot + 1));
}

std::wstring JoinPath(const std::wstring& base, const std::wstring& tail) {
  if (base.empty()) return tail;
  const auto tailStart = std::min(tail.find_first_not_of(L"/\\"), tail.size());
  const std::wstring trimmedTail = tail.substr(tailStart);
  if (IsSeparator(base.back())) return base + trimmedTail;
  return base + L"/" + trimmedTail;
}

}  // namespace NolkUtil
