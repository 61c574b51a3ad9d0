#include "tools/publisher/PatcherProgram.h"

#include "KernelStandard/platform/Platform.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {

PublisherResult NotAProgram(const std::wstring& path, const std::string& why) {
  return PublisherResult::Refuse("the patcher " + Printable(path) + " is not a program of this platform (" +
                                 why + "); give the korvel-patcher-cli or korvel-patcher executable");
}

PublisherResult CheckPatcherProgram(const std::wstring& path) {
  OS::FileInfo info;
  if (!OS::Current().Stat(path, info) || info.isDirectory)
    return PublisherResult::Refuse("the patcher executable is missing or not a file: " + Printable(path));
  return CheckProgramImage(path);
}

}  // namespace KorvelTools
