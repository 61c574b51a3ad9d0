#include "tools/diff/DiffFiles.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "KernelStandard/platform/MappedFile.h"
#include "KernelStandard/platform/Platform.h"

namespace KorvelTools {
namespace {

// Closes a platform stream when it goes out of scope.
class StreamCloser {
 public:
  explicit StreamCloser(std::FILE* stream) : m_stream(stream) {}
  ~StreamCloser() {
    if (m_stream != nullptr) OS::Current().CloseStream(m_stream);
  }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;

 private:
  std::FILE* m_stream;
};

// Pieces small enough to stay in the cache between reading and hashing.
constexpr std::size_t kReadPiece = 256 * 1024;

bool ReadOpenStream(std::FILE* stream, UninitializedBytes& bytes, OldFileHasher* hasher) {
  OS::Platform& platform = OS::Current();
  std::uint64_t length = 0;
  if (!platform.StreamLength(stream, length) || length > bytes.max_size()) return false;
  bytes.resize(static_cast<std::size_t>(length));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t got =
        platform.ReadStream(stream, bytes.data() + done, std::min(kReadPiece, bytes.size() - done));
    if (got == 0) return false;
    if (hasher != nullptr) hasher->Update(ByteSpan(bytes.data() + done, got));
    done += got;
  }
  return true;
}

// Written and flushed out of the process, but not forced to the disk (see
// DiffFiles.h).
bool WriteWhole(const std::wstring& path, ByteSpan bytes) {
  OS::Platform& platform = OS::Current();
  std::FILE* stream = platform.OpenStream(path, OS::OpenMode::CreateTruncate);
  if (stream == nullptr) return false;
  const bool written =
      bytes.empty() || platform.WriteStream(stream, bytes.data(), bytes.size()) == bytes.size();
  const bool flushed = written && platform.FlushStream(stream, false);
  platform.CloseStream(stream);
  return flushed;
}

bool MoveIntoPlace(const std::wstring& temporary, const std::wstring& path) {
  OS::Platform& platform = OS::Current();
  if (platform.Exists(path) && !platform.DeleteFile(path)) return false;
  return platform.MoveFile(temporary, path);
}

// File systems allow 255 bytes per name; a long name would overflow with
// the suffix, so such a file gets a short temporary name in its folder.
constexpr std::size_t kLongestName = 255;

std::wstring TemporaryNameBeside(const std::wstring& path) {
  const std::wstring suffix = L".part" + std::to_wstring(OS::Current().ProcessId());
  const std::size_t separator = path.find_last_of(L"\\/");
  const std::size_t nameStart = separator == std::wstring::npos ? 0 : separator + 1;
  if (OS::ToUtf8(path.substr(nameStart) + suffix).size() <= kLongestName) return path + suffix;
  return path.substr(0, nameStart) + L"~vpatch" + suffix;
}

// The result under its temporary name, written block by block as the
// decoder produces it.
class TemporaryOutput {
 public:
  explicit TemporaryOutput(const std::wstring& path) : m_path(path) {
    m_stream = OS::Current().OpenStream(m_path, OS::OpenMode::CreateTruncate);
  }
  ~TemporaryOutput() {
    Close();
    if (!m_kept) OS::Current().DeleteFile(m_path);
  }
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  bool IsOpen() const { return m_stream != nullptr; }
  bool Write(ByteSpan block) {
    return OS::Current().WriteStream(m_stream, block.data(), block.size()) == block.size();
  }
  // Flushed out of the process, not forced to the disk (see DiffFiles.h),
  // then moved over the destination.
  bool Complete(const std::wstring& destination) {
    const bool flushed = OS::Current().FlushStream(m_stream, false);
    Close();
    m_kept = flushed && MoveIntoPlace(m_path, destination);
    return m_kept;
  }

 private:
  void Close() {
    if (m_stream != nullptr) OS::Current().CloseStream(m_stream);
    m_stream = nullptr;
  }

  std::wstring m_path;
  std::FILE* m_stream = nullptr;
  bool m_kept = false;
};

DiffFileResult FileResultOf(DiffResult result) {
  switch (result) {
    case DiffResult::Ok:
      return DiffFileResult::Ok;
    case DiffResult::WrongOldFile:
      return DiffFileResult::WrongOldFile;
    case DiffResult::OutputFailed:
      return DiffFileResult::OutputNotWritable;
    case DiffResult::Corrupt:
      break;
  }
  return DiffFileResult::Corrupt;
}

// The old file is mapped, not read: the decoder refers back into all of it,
// and the mapping shares the page cache's copy instead of making another.
// The mapping is released before the new file is moved into place, since
// the new file may replace the old one, and Windows replaces no file that
// is mapped.
DiffFileResult StreamRebuild(std::unique_ptr<OS::MappedFile> oldFile, ByteSpan diff,
                             const std::wstring& newPath) {
  const ByteSpan oldData(oldFile->Data(), oldFile->Size());
  TemporaryOutput output(TemporaryNameBeside(newPath));
  if (!output.IsOpen()) return DiffFileResult::OutputNotWritable;
  const DiffResult decoded = ApplyDiffToSink(oldData, OldFileHash(oldData), diff,
                                             [&output](ByteSpan block) { return output.Write(block); });
  if (decoded != DiffResult::Ok) return FileResultOf(decoded);
  oldFile.reset();
  return output.Complete(newPath) ? DiffFileResult::Ok : DiffFileResult::OutputNotWritable;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, UninitializedBytes& bytes, OldFileHasher* hasher) {
  bytes.clear();
  OS::Platform& platform = OS::Current();
  OS::FileInfo info;
  if (!platform.Stat(path, info) || info.isDirectory) return false;
  std::FILE* stream = platform.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  StreamCloser closer(stream);
  try {
    if (ReadOpenStream(stream, bytes, hasher)) return true;
  } catch (const std::bad_alloc&) {
  }
  bytes.clear();
  return false;
}

bool WriteFileReplacing(const std::wstring& path, ByteSpan bytes) {
  const std::wstring temporary = TemporaryNameBeside(path);
  if (WriteWhole(temporary, bytes) && MoveIntoPlace(temporary, path)) return true;
  OS::Current().DeleteFile(temporary);
  return false;
}

DiffFileResult ApplyDiffFile(const std::wstring& oldPath, const std::wstring& diffPath,
                             const std::wstring& newPath) {
  std::unique_ptr<OS::MappedFile> oldFile = OS::MapFileForReading(oldPath);
  if (!oldFile) return DiffFileResult::OldUnreadable;
  UninitializedBytes diff;
  if (!ReadWholeFile(diffPath, diff)) return DiffFileResult::DiffUnreadable;
  return StreamRebuild(std::move(oldFile), diff, newPath);
}

DiffFileResult CreateDiffFile(const std::wstring& oldPath, const std::wstring& newPath,
                              const std::wstring& diffPath, const DiffOptions& options) {
  UninitializedBytes oldData;
  if (!ReadWholeFile(oldPath, oldData)) return DiffFileResult::OldUnreadable;
  UninitializedBytes newData;
  if (!ReadWholeFile(newPath, newData)) return DiffFileResult::NewUnreadable;
  const std::vector<std::uint8_t> diff = CreateDiff(oldData, newData, options);
  if (diff.empty()) return DiffFileResult::CreateFailed;
  return WriteFileReplacing(diffPath, diff) ? DiffFileResult::Ok : DiffFileResult::OutputNotWritable;
}

}  // namespace KorvelTools
