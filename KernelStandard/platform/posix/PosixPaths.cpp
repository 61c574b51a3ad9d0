#include "KernelStandard/platform/posix/PosixPaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace OS::PosixPaths {
namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EntryExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The entry of `folder` equal to `name` ignoring case; empty when none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
  DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
  if (listing == nullptr) return {};
  std::string best;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string candidate = entry->d_name;
    if (EqualIgnoringAsciiCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  ::closedir(listing);
  return best;
}

}  // namespace

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string ToNativeText(const std::wstring& path) {
  std::wstring slashed = path;
  for (wchar_t& c : slashed) {
    if (c == L'\\') c = L'/';
  }
  return ToUtf8(slashed);
}

std::string ResolveCase(const std::string& nativePath) {
  if (nativePath.empty() || EntryExists(nativePath)) return nativePath;
  std::string resolved = nativePath.front() == '/' ? "/" : "";
  bool missing = false;
  for (const std::string& component : SplitComponents(nativePath)) {
    const std::string exact = Join(resolved, component);
    if (missing || component == "." || component == ".." || EntryExists(exact)) {
      resolved = exact;
      continue;
    }
    const std::string matched = FindEntryIgnoringCase(resolved, component);
    missing = matched.empty();
    resolved = Join(resolved, missing ? component : matched);
  }
  if (nativePath.back() == '/' && !resolved.empty() && resolved.back() != '/') resolved.push_back('/');
  return resolved;
}

}  // namespace OS::PosixPaths
