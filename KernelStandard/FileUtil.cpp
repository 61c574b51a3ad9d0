#include "KernelStandard/FileUtil.h"

#include <atomic>
#include <vector>

#include "KernelStandard/Log.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkUtil {
namespace {

OS::Platform& System() {
  return OS::Current();
}

// The path as the wide system functions get it.
std::wstring WideForm(std::wstring path) {
  return NormalizeSeparators(std::move(path));
}

// The path as the 8-bit system functions get it: characters without an 8-bit
// form become '?'.
std::wstring NarrowForm(std::wstring path) {
  return ToWide(ToNarrow(NormalizeSeparators(std::move(path))));
}

bool SetReadOnlyFlagTo(const std::wstring& path, bool readOnly) {
  OS::FileInfo info;
  if (!System().Stat(path, info)) return false;
  if (info.readOnly == readOnly) return true;
  return System().SetReadOnlyFlag(path, readOnly);
}

bool CreateOneDirectory(const std::wstring& folder) {
  if (System().CreateDirectory(folder)) return true;
  const int error = OS::GetLastError();
  LogPrint("MakeDirectory> CreateDirectoryW returned err %d", error);
  OS::SetLastError(error);
  return false;
}

// A listing may report a link to a folder as a folder. Deleting the entry
// as a file first removes such a link itself (a real folder refuses), so the
// removal never reaches into a folder outside the tree.
bool RemoveLinkToFolder(const std::wstring& entry) {
  return System().DeleteFile(entry);
}

// Removes a folder already in its 8-bit form. Entry names are used as the
// listing returns them, so names that the 8-bit form cannot express are
// still removed.
bool RemoveTree(const std::wstring& folder) {
  std::vector<OS::DirEntry> entries;
  if (System().ListDirectory(folder, entries)) {
    for (const OS::DirEntry& entry : entries) {
      const std::wstring child = NormalizeSeparators(JoinPath(folder, entry.name));
      if (entry.isDirectory) {
        if (!RemoveLinkToFolder(child) && !RemoveTree(child)) return false;
      } else {
        System().DeleteFile(child);  // a leftover file makes the folder removal below fail
      }
    }
  }
  return System().RemoveDirectory(folder);
}

bool WriteLineEnd(std::FILE* stream) {
  std::uint64_t length = 0;
  if (!System().StreamLength(stream, length) || length != 0) return false;
  return System().WriteStream(stream, "\r\n", 2) == 2 && System().FlushStream(stream, false);
}

}  // namespace

bool IsDirectory(std::wstring path) {
  OS::FileInfo info;
  return System().Stat(WideForm(std::move(path)), info) && info.isDirectory;
}

bool SetReadOnly(std::wstring path) {
  return SetReadOnlyFlagTo(WideForm(std::move(path)), true);
}

bool ClearReadOnly(std::wstring path) {
  return SetReadOnlyFlagTo(WideForm(std::move(path)), false);
}

bool FileExists(std::wstring path) {
  return System().Exists(NarrowForm(std::move(path)));
}

NolkResult GetFileSize(std::wstring path, std::uint64_t& size) {
  OS::FileInfo info;
  if (!System().Stat(NarrowForm(std::move(path)), info)) {
    size = 0;
    return NOLKRESULT_FILE_ERROR;
  }
  size = info.size;
  return NOLKRESULT_OK;
}

NolkResult GetFileModifiedTime(std::wstring path, std::int64_t& modifiedTime) {
  OS::FileInfo info;
  if (!System().Stat(NarrowForm(std::move(path)), info)) {
    modifiedTime = 0;
    return NOLKRESULT_FILE_ERROR;
  }
  modifiedTime = info.modifiedTime;
  return NOLKRESULT_OK;
}

bool DeleteFile(std::wstring path) {
  if (path.empty()) return false;
  return System().DeleteFile(NarrowForm(std::move(path)));
}

bool MoveFile(std::wstring source, std::wstring destination) {
  source = NarrowForm(std::move(source));
  if (System().IsFileInUse(source)) {
    OS::SetLastError(OS::ERROR_SHARING_VIOLATION);
    return false;
  }
  return System().MoveFile(source, NarrowForm(std::move(destination)));
}

bool CreateFileIfMissing(std::wstring path) {
  path = NarrowForm(std::move(path));
  if (System().Exists(path)) return false;
  std::FILE* stream = System().OpenStream(path, OS::OpenMode::CreateReadWrite);
  if (stream == nullptr) return false;
  const bool written = WriteLineEnd(stream);
  System().CloseStream(stream);
  return written;
}

bool RemoveDirectoryTree(std::wstring folder) {
  if (folder.empty()) return false;
  return RemoveTree(NarrowForm(std::move(folder)));
}

bool MakeDirectory(std::wstring folder) {
  if (folder.empty()) return false;
  folder = WideForm(std::move(folder));
  if (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();

  OS::FileInfo info;
  if (System().Stat(folder, info)) {
    if (info.isDirectory) return true;
    OS::SetLastError(OS::ERROR_FILE_EXISTS);
    return false;
  }
  const auto lastSeparator = folder.rfind(L'\\');
  if (lastSeparator != std::wstring::npos && lastSeparator > 0 &&
      !MakeDirectory(folder.substr(0, lastSeparator))) {
    return false;
  }
  return CreateOneDirectory(folder);
}

std::wstring MakeTempFileName(const std::wstring& folder) {
  static std::atomic<std::uint32_t> counter{System().TickCount()};
  const std::uint32_t number = counter.fetch_add(1);
  return JoinPath(folder, L"file" + std::to_wstring(number));
}

NolkResult ListDirectory(std::wstring folder, std::set<std::wstring>& entries) {
  entries.clear();
  folder = NarrowForm(std::move(folder));
  std::vector<OS::DirEntry> listing;
  if (!System().ListDirectory(folder, listing)) return NOLKRESULT_CANNOT_LIST;
  for (const OS::DirEntry& entry : listing) entries.insert(JoinPath(folder, entry.name));
  return NOLKRESULT_OK;
}

}  // namespace NolkUtil

namespace Vek {

int FileStatus(const std::string& path) {
  return OS::Current().Exists(NolkUtil::ToWide(path)) ? NOLKRESULT_OK : NOLKRESULT_FILE_ERROR;
}

}  // namespace Vek
