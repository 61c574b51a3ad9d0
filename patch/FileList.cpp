#include "patch/FileList.h"

#include <cstdio>

#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kLinesPerEntry = 3;

bool ReadWholeStream(std::FILE* stream, std::string& text) {
  char chunk[kReadChunk];
  while (true) {
    const std::size_t count = OS::Current().ReadStream(stream, chunk, sizeof chunk);
    text.append(chunk, count);
    // A short read is the end only when the stream says so; a failing read
    // (also an injected one) leaves the end-of-file flag clear.
    if (count < sizeof chunk) return std::feof(stream) != 0 && std::ferror(stream) == 0;
  }
}

std::vector<std::wstring> SplitComponents(const std::wstring& path) {
  std::vector<std::wstring> components(1);
  for (const wchar_t character : path) {
    if (character == L'\\' || character == L'/') {
      components.emplace_back();
    } else {
      components.back().push_back(character);
    }
  }
  return components;
}

bool HasForbiddenCharacter(const std::wstring& path) {
  for (const wchar_t character : path) {
    if (character < 32 || character == L':') return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitListLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char character = text[index];
    if (character != '\r' && character != '\n') {
      current.push_back(character);
      continue;
    }
    if (character == '\r' && index + 1 < text.size() && text[index + 1] == '\n') ++index;
    lines.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

FileListResult ReadFileList(const std::wstring& path, std::vector<FileListEntry>& entries) {
  entries.clear();
  std::FILE* stream = OS::Current().OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return FILELIST_CANNOT_OPEN;
  std::string text;
  const bool complete = ReadWholeStream(stream, text);
  OS::Current().CloseStream(stream);
  if (!complete) return FILELIST_READ_FAILED;

  const std::vector<std::string> lines = SplitListLines(text);
  const std::size_t groups = lines.size() / kLinesPerEntry;
  for (std::size_t group = 0; group < groups; ++group) {
    const std::size_t first = group * kLinesPerEntry;
    entries.push_back({NolkUtil::ToWide(lines[first]), NolkUtil::ToWide(lines[first + 1]),
                       NolkUtil::ToWide(lines[first + 2])});
  }
  return lines.size() % kLinesPerEntry == 0 ? FILELIST_OK : FILELIST_PARTIAL_GROUP;
}

bool IsSafeListPath(const std::wstring& path) {
  if (path.empty() || HasForbiddenCharacter(path)) return false;
  const std::vector<std::wstring> components = SplitComponents(path);
  if (components.front().empty()) return false;  // a leading separator: an absolute path
  for (const std::wstring& component : components) {
    if (component == L"..") return false;
  }
  const std::wstring& name = components.back();
  return !name.empty() && name != L".";
}

}  // namespace NolkPatch
