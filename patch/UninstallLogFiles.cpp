#include "patch/UninstallLogFiles.h"

#include <cstdint>
#include <limits>

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {
namespace {

// Closes the stream when it goes out of scope.
class StreamCloser {
 public:
  explicit StreamCloser(std::FILE* stream) : m_stream(stream) {}
  ~StreamCloser() {
    if (m_stream) OS::Current().CloseStream(m_stream);
  }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;

 private:
  std::FILE* m_stream;
};

constexpr std::size_t kListGroupSize = 3;

}  // namespace

FileReadResult ReadWholeFile(const std::wstring& path, OS::OpenMode mode, ByteVector& bytes) {
  OS::Platform& platform = OS::Current();
  std::FILE* stream = platform.OpenStream(path, mode);
  if (!stream) return FileReadResult::READ_CANNOT_OPEN;
  StreamCloser closer(stream);
  std::uint64_t length = 0;
  if (!platform.StreamLength(stream, length) || length > std::numeric_limits<std::size_t>::max() / 2)
    return FileReadResult::READ_FAILED;
  bytes.assign(static_cast<std::size_t>(length), 0);
  if (!platform.SeekStream(stream, 0)) return FileReadResult::READ_FAILED;
  if (!bytes.empty() && platform.ReadStream(stream, bytes.data(), bytes.size()) != bytes.size())
    return FileReadResult::READ_FAILED;
  return FileReadResult::READ_OK;
}

bool WriteWholeFile(const std::wstring& path, const ByteVector& bytes) {
  OS::Platform& platform = OS::Current();
  std::FILE* stream = platform.OpenStream(path, OS::OpenMode::CreateTruncate);
  if (!stream) return false;
  StreamCloser closer(stream);
  if (!bytes.empty() && platform.WriteStream(stream, bytes.data(), bytes.size()) != bytes.size())
    return false;
  return platform.FlushStream(stream, true);
}

std::vector<std::string> SplitTextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::string> ReadAddedRecordPaths(const std::wstring& installFolder,
                                              const std::wstring& patchFolder) {
  const std::wstring listPath = NolkUtil::JoinPath(patchFolder, L"addedFiles.txt");
  ByteVector bytes;
  if (ReadWholeFile(NolkUtil::ToWide(NolkUtil::ToNarrow(listPath)), OS::OpenMode::Read, bytes) !=
      FileReadResult::READ_OK) {
    PostEngineMessage(LEVEL_ERROR,
                      L"Could not open: " + listPath + L" for reading. The file might not be present");
    return {};
  }
  const std::vector<std::string> lines = SplitTextLines(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> paths;
  // Only complete groups count; a trailing partial group names no entry.
  for (std::size_t line = 0; line + kListGroupSize <= lines.size(); line += kListGroupSize)
    paths.push_back(NolkUtil::ToNarrow(NolkUtil::JoinPath(installFolder, NolkUtil::ToWide(lines[line]))));
  return paths;
}

}  // namespace NolkPatch
