#include "app/cli/ConsoleInstallLocator.h"

#include <utility>

#include "KernelStandard/PathUtil.h"

namespace NolkPatch {

std::wstring ConsoleInstallLocator::ChooseGameProgram() {
  const std::wstring folder = std::exchange(m_offeredFolder, std::wstring());
  if (folder.empty()) return std::wstring();
  return NolkUtil::JoinPath(folder, L"Ombrix.exe");
}

}  // namespace NolkPatch
