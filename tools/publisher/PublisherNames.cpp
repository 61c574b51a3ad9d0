#include "tools/publisher/PublisherNames.h"

#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

namespace KorvelTools {

std::wstring JoinRelative(const std::wstring& folder, const std::wstring& name) {
  return folder.empty() ? name : folder + L"\\" + name;
}

std::wstring LastComponent(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L'\\');
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring ParentOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L'\\');
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

bool IsListableName(const std::wstring& name) {
  for (wchar_t character : name)
    if (character < L' ' || character == 0x7F) return false;
  return NolkUtil::ToWide(NolkUtil::ToNarrow(name)) == name;
}

bool IsConverterFileName(const std::wstring& fileName, const std::wstring& converterExtension) {
  if (converterExtension.empty()) return false;
  const std::size_t first = fileName.find(converterExtension);
  return first != std::wstring::npos && first + converterExtension.size() == fileName.size();
}

std::wstring ConverterDiffName(const std::wstring& fileName) {
  const std::size_t dot = fileName.find_last_of(L'.');
  if (dot == std::wstring::npos) return fileName + L"-diff.";
  return fileName.substr(0, dot) + L"-diff." + fileName.substr(dot + 1);
}

std::wstring GeneralDiffName(const std::wstring& fileName) {
  return fileName + L".diff";
}

std::wstring CaseFoldKey(const std::wstring& path) {
  std::wstring key = path;
  for (wchar_t& character : key)
    if (character >= L'A' && character <= L'Z') character = static_cast<wchar_t>(character - L'A' + L'a');
  return key;
}

std::string Printable(const std::wstring& name) {
  return OS::ToUtf8(name);
}

}  // namespace KorvelTools
