#include "patch/EngineFileOps.h"

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/Md5.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EnginePaths.h"

namespace NolkPatch {

bool PathExists(const std::wstring& path) {
  return OS::Current().Exists(path);
}

bool RemoveFile(const std::wstring& path) {
  return !path.empty() && OS::Current().DeleteFile(path);
}

bool RemoveFileEvenReadOnly(const std::wstring& path) {
  OS::FileInfo info;
  if (!path.empty() && OS::Current().Stat(path, info) && !info.isSymbolicLink && info.readOnly)
    OS::Current().SetReadOnlyFlag(path, false);
  return RemoveFile(path);
}

bool ReadSmallFile(const std::wstring& path, std::uint64_t largest, std::string& content) {
  OS::Platform& system = OS::Current();
  std::FILE* stream = system.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  std::uint64_t length = 0;
  bool ok = system.StreamLength(stream, length) && length <= largest;
  if (ok) {
    content.resize(static_cast<std::size_t>(length));
    ok = system.ReadStream(stream, content.data(), content.size()) == content.size();
  }
  system.CloseStream(stream);
  return ok;
}

bool GetPermissions(const std::wstring& path, std::uint32_t& permissions) {
  OS::FileInfo info;
  if (!OS::Current().Stat(path, info)) return false;
  permissions = info.permissions;
  return true;
}

bool RenameFile(const std::wstring& from, const std::wstring& to) {
  if (OS::Current().IsFileInUse(from)) {
    OS::SetLastError(OS::ERROR_SHARING_VIOLATION);
    return false;
  }
  return OS::Current().MoveFile(from, to);
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
  return OS::Current().CopyFile(from, to, true);
}

bool EnsureFolder(const std::wstring& folder, std::vector<std::wstring>* created) {
  if (folder.empty() || NolkUtil::IsDirectory(folder)) return true;
  std::vector<std::wstring> missing;  // deepest first
  for (std::wstring current = folder; !current.empty() && !NolkUtil::IsDirectory(current);
       current = FolderOf(current)) {
    missing.push_back(current);
  }
  const bool made = NolkUtil::MakeDirectory(folder);
  if (created != nullptr) {
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (NolkUtil::IsDirectory(*it)) created->push_back(*it);
    }
  }
  return made;
}

bool FileHasChecksum(const std::wstring& path, const std::wstring& expected) {
  std::string digest;
  return NolkUtil::Md5OfFile(path, digest) && digest == NolkUtil::ToNarrow(expected);
}

std::wstring PathKey(const std::wstring& path) {
  std::wstring key = path;
  for (wchar_t& c : key) {
    if (c == L'/') c = L'\\';
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return key;
}

std::wstring FillIn(std::wstring pattern, const std::wstring& token, const std::wstring& value) {
  const std::size_t position = pattern.find(token);
  if (position != std::wstring::npos) pattern.replace(position, token.size(), value);
  return pattern;
}

}  // namespace NolkPatch
