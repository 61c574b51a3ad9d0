#include "patch/EnginePaths.h"

#include "KernelStandard/PathUtil.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

bool EndsInSeparator(const std::wstring& path) {
  return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

std::wstring WithSeparator(const std::wstring& folder) {
  return EndsInSeparator(folder) ? folder : folder + L"\\";
}

std::size_t LastSeparator(const std::wstring& path) {
  return path.find_last_of(L"\\/");
}

}  // namespace

std::wstring JoinListPath(const std::wstring& base, const std::wstring& listPath) {
  return WithSeparator(base) + NolkUtil::NormalizeSeparators(listPath);
}

std::wstring InstallFilePath(const std::wstring& installFolder, const std::wstring& listPath) {
  return JoinListPath(installFolder, listPath);
}

std::wstring PatchDataPath(const std::wstring& patchFolder, const std::wstring& listPath) {
  return JoinListPath(WithSeparator(patchFolder) + L"data", listPath);
}

std::wstring BackupPathOf(const std::wstring& filePath) {
  return filePath + L".pbk";
}

std::wstring FolderOf(const std::wstring& filePath) {
  const std::size_t separator = LastSeparator(filePath);
  return separator == std::wstring::npos ? std::wstring() : filePath.substr(0, separator);
}

std::wstring NameOf(const std::wstring& filePath) {
  const std::size_t separator = LastSeparator(filePath);
  return separator == std::wstring::npos ? filePath : filePath.substr(separator + 1);
}

std::wstring ToolsFolderOf(const std::wstring& installFolder) {
  return WithSeparator(installFolder) + L"bin\\";
}

}  // namespace NolkPatch

namespace NolkPatch {

std::wstring InterimPathOf(const std::wstring& filePath) {
  return filePath + L".pbk2";
}

std::wstring DisplayPath(const std::wstring& path) {
  const int error = OS::GetLastError();
  const std::wstring shown = OS::FromUtf8(OS::Current().NativePath(path));
  OS::SetLastError(error);
  return shown;
}

std::wstring SystemReason() {
  return L": " + OS::ErrorText(OS::GetLastError());
}

}  // namespace NolkPatch
