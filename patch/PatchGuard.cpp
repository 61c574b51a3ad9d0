#include "patch/PatchGuard.h"

#include <mutex>

#include "patch/PatchEngine.h"
#include "patch/PatchSettings.h"
#include "patch/PatchingFlag.h"

namespace NolkPatch {
namespace {

constexpr wchar_t kLauncherName[] = L"NolkLauncher.exe";

struct ShowInstallPathSlot {
  std::mutex mutex;
  std::function<void()> hook;
};

ShowInstallPathSlot& Slot() {
  static ShowInstallPathSlot slot;
  return slot;
}

void ShowInstallPath() {
  std::function<void()> hook;
  {
    std::lock_guard lock(Slot().mutex);
    hook = Slot().hook;
  }
  if (hook) hook();
}

}  // namespace

void SetShowInstallPathHook(std::function<void()> hook) {
  std::lock_guard lock(Slot().mutex);
  Slot().hook = std::move(hook);
}

bool ApplyPatchGuarded(const std::wstring& patchFolder) {
  SetPatchingFlag();
  ShowInstallPath();
  const bool ok = ApplyPatch(PatchSettings::Get().InstallPath, patchFolder, kLauncherName);
  if (ok) {
    ClearPatchingFlag();
  } else {
    SetPatchingFlag();
  }
  return ok;
}

}  // namespace NolkPatch
