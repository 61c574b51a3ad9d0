#include "patch/FileModes.h"

#include <sstream>

#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"

namespace NolkPatch {
namespace {

constexpr std::uint64_t kLargestModesFile = 64ull * 1024 * 1024;

bool ParseOctal(const std::string& text, std::uint32_t& value) {
  if (text.empty() || text.size() > 6) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '7') return false;
    value = value * 8 + static_cast<std::uint32_t>(c - '0');
  }
  return true;
}

std::string Octal(std::uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", value & 07777);
  return text;
}

}  // namespace

std::string FormatFileModes(const std::vector<std::pair<std::wstring, std::uint32_t>>& entries) {
  std::string text;
  for (const auto& [path, mode] : entries) text += Octal(mode) + " " + OS::ToUtf8(path) + "\r\n";
  return text;
}

bool ParseFileModes(const std::string& text, FileModes& modes) {
  modes.clear();
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t space = line.find(' ');
    std::uint32_t mode = 0;
    if (space == std::string::npos || space + 1 == line.size() || !ParseOctal(line.substr(0, space), mode))
      return false;
    modes[PathKey(OS::FromUtf8(line.substr(space + 1)))] = mode & kArchivePermissionBits;
  }
  return true;
}

bool ReadFileModes(const std::wstring& patchFolder, FileModes& modes) {
  modes.clear();
  const std::wstring path = JoinListPath(patchFolder, kFileModesName);
  if (!OS::Current().Exists(path)) return true;
  std::string content;
  return ReadSmallFile(path, kLargestModesFile, content) && ParseFileModes(content, modes);
}

}  // namespace NolkPatch
