#include "patch/BuildHash.h"

#include "KernelStandard/Md5.h"
#include "KernelStandard/PathUtil.h"

namespace NolkPatch {

std::wstring LauncherPath(const std::wstring& installFolder) {
  return NolkUtil::NormalizeSeparators(NolkUtil::JoinPath(installFolder, L"bin/Launcher.exe"));
}

bool ComputeBuildHash(const std::wstring& installFolder, std::string& hex) {
  return NolkUtil::Md5OfFile(LauncherPath(installFolder), hex);
}

}  // namespace NolkPatch
