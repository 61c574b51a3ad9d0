// The fault injector's members for private folders and the user. A matched
// IsSharedFolder reports a shared folder (the cautious answer); a matched
// EffectiveUserId with a value reports that user instead of failing.
#include "KernelStandard/platform/FaultInjectingPlatform.h"

namespace OS {

bool FaultInjectingPlatform::IsSharedFolder(const std::wstring& path) {
  return Fails("IsSharedFolder", path) || m_inner.IsSharedFolder(path);
}

bool FaultInjectingPlatform::MakePrivateFolder(const std::wstring& path) {
  return !Fails("MakePrivateFolder", path) && m_inner.MakePrivateFolder(path);
}

bool FaultInjectingPlatform::CanWriteFolder(const std::wstring& path) {
  return !Fails("CanWriteFolder", path) && m_inner.CanWriteFolder(path);
}

std::uint32_t FaultInjectingPlatform::EffectiveUserId() {
  std::optional<std::uint64_t> reported;
  if (Match("EffectiveUserId", std::string(), &reported) && reported)
    return static_cast<std::uint32_t>(*reported);
  return m_inner.EffectiveUserId();
}

std::wstring FaultInjectingPlatform::UserDataFolder() {
  if (Match("UserDataFolder", std::string(), nullptr)) return {};
  return m_inner.UserDataFolder();
}

}  // namespace OS
