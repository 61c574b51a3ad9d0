#include "patch/PatchingFlag.h"

#include "KernelStandard/platform/RegistryStore.h"

namespace NolkPatch {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\Korvel\\Products\\OmbrixSimulator";
constexpr wchar_t kPatchingValue[] = L"IsPatching";

}  // namespace

bool SetPatchingFlag() {
  OS::RegistryStore& store = OS::RegistryStore::Default();
  return store.CanWrite(kProductKey) && store.SetDword(kProductKey, kPatchingValue, 1);
}

bool ClearPatchingFlag() {
  OS::RegistryStore& store = OS::RegistryStore::Default();
  return store.CanWrite(kProductKey) && store.DeleteValue(kProductKey, kPatchingValue);
}

}  // namespace NolkPatch
