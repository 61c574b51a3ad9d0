#include "KernelStandard/platform/RegistryStore.h"

#include <cstdlib>

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/RegistryStoreFile.h"

namespace OS {
namespace {

const char* const kMachineStorePath = "/var/lib/korvel/registry.reg";
const char* const kUserStoreName = "/korvel/registry.reg";

bool Fail(int error) {
  SetLastError(error);
  return false;
}

// The store of a process that did not name one: root keeps the machine's
// store; any other user keeps a store of their own in their data folder, so
// patching a game they own needs no root. A user without a store of their
// own still reads the machine's store when there is one, so a game that
// root installed and registered is found (and patching it asks for root,
// as the run would write its marker there).
std::string DefaultStorePath() {
  if (Current().EffectiveUserId() == 0) return kMachineStorePath;
  const std::wstring dataFolder = Current().UserDataFolder();
  if (dataFolder.empty()) return kMachineStorePath;
  const std::string userStore = ToUtf8(dataFolder) + kUserStoreName;
  if (RegistryStoreFile::Exists(userStore)) return userStore;
  return RegistryStoreFile::Exists(kMachineStorePath) ? kMachineStorePath : userStore;
}

}  // namespace

RegistryStore::RegistryStore(std::string filePath) : m_filePath(std::move(filePath)) {}

RegistryStore& RegistryStore::Default() {
  static RegistryStore store;
  return store;
}

std::string RegistryStore::FilePath() const {
  if (!m_filePath.empty()) return m_filePath;
  const char* configured = std::getenv("KORVEL_REGISTRY");
  return (configured != nullptr && *configured != '\0') ? configured : DefaultStorePath();
}

bool RegistryStore::Load(RegistryDocument& document) const {
  std::string content;
  if (!RegistryStoreFile::ReadAll(FilePath(), content)) return false;
  return document.Parse(content) || Fail(ERROR_GEN_FAILURE);
}

bool RegistryStore::Read(
    const std::wstring& key,
    const std::function<bool(const RegistryDocument&, const std::wstring&)>& query) const {
  std::wstring path;
  if (!NormalizeKeyPath(key, path)) return Fail(ERROR_INVALID_PARAMETER);
  RegistryDocument document;
  if (!Load(document)) return false;
  if (!document.HasKey(path)) return Fail(ERROR_FILE_NOT_FOUND);
  return query(document, path);
}

bool RegistryStore::Modify(const std::wstring& key,
                           const std::function<bool(RegistryDocument&, const std::wstring&)>& change) {
  std::wstring path;
  if (!NormalizeKeyPath(key, path)) return Fail(ERROR_INVALID_PARAMETER);
  const std::string file = FilePath();
  if (!RegistryStoreFile::MayWrite(file) || !RegistryStoreFile::EnsureFolder(file)) return false;
  const RegistryStoreFile::WriterLock lock(file);
  if (!lock.Held()) return false;
  RegistryDocument document;
  if (!Load(document) || !change(document, path)) return false;
  return RegistryStoreFile::ReplaceAtomically(file, document.Serialize());
}

bool RegistryStore::CreateKey(const std::wstring& key) {
  return Modify(key, [](RegistryDocument& document, const std::wstring& path) {
    document.CreateKey(path);
    return true;
  });
}

bool RegistryStore::KeyExists(const std::wstring& key) const {
  return Read(key, [](const RegistryDocument&, const std::wstring&) { return true; });
}

bool RegistryStore::CanWrite(const std::wstring& key) const {
  return KeyExists(key) && RegistryStoreFile::MayWrite(FilePath());
}

std::vector<std::wstring> RegistryStore::EnumSubkeys(const std::wstring& key) const {
  std::vector<std::wstring> names;
  Read(key, [&](const RegistryDocument& document, const std::wstring& path) {
    names = document.Subkeys(path);
    return true;
  });
  return names;
}

bool RegistryStore::QueryInfo(const std::wstring& key, RegistryKeyInfo& info) const {
  return Read(key, [&](const RegistryDocument& document, const std::wstring& path) {
    info = document.Info(path);
    return true;
  });
}

bool RegistryStore::GetString(const std::wstring& key, const std::wstring& name, std::wstring& value) const {
  return Read(key, [&](const RegistryDocument& document, const std::wstring& path) {
    const RegistryValue* found = document.FindValue(path, name);
    if (found == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
    if (found->type != RegistryValueType::String) return Fail(ERROR_INVALID_PARAMETER);
    value = found->text;
    return true;
  });
}

bool RegistryStore::GetDword(const std::wstring& key, const std::wstring& name, std::uint32_t& value) const {
  return Read(key, [&](const RegistryDocument& document, const std::wstring& path) {
    const RegistryValue* found = document.FindValue(path, name);
    if (found == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
    if (found->type != RegistryValueType::Dword) return Fail(ERROR_INVALID_PARAMETER);
    value = found->dword;
    return true;
  });
}

bool RegistryStore::GetValues(const std::wstring& key, std::vector<RegistryValue>& values) const {
  return Read(key, [&](const RegistryDocument& document, const std::wstring& path) {
    values = document.Values(path);
    return true;
  });
}

bool RegistryStore::SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  if (!IsStorableText(name) || !IsStorableText(value)) return Fail(ERROR_INVALID_PARAMETER);
  return Modify(key, [&](RegistryDocument& document, const std::wstring& path) {
    return document.SetValue(path, {name, RegistryValueType::String, value, 0}) || Fail(ERROR_FILE_NOT_FOUND);
  });
}

bool RegistryStore::SetDword(const std::wstring& key, const std::wstring& name, std::uint32_t value) {
  if (!IsStorableText(name)) return Fail(ERROR_INVALID_PARAMETER);
  return Modify(key, [&](RegistryDocument& document, const std::wstring& path) {
    return document.SetValue(path, {name, RegistryValueType::Dword, {}, value}) || Fail(ERROR_FILE_NOT_FOUND);
  });
}

bool RegistryStore::DeleteValue(const std::wstring& key, const std::wstring& name) {
  return Modify(key, [&](RegistryDocument& document, const std::wstring& path) {
    return document.DeleteValue(path, name) || Fail(ERROR_FILE_NOT_FOUND);
  });
}

bool RegistryStore::DeleteKey(const std::wstring& key) {
  return Modify(key, [](RegistryDocument& document, const std::wstring& path) {
    if (path.empty()) return Fail(ERROR_ACCESS_DENIED);
    return document.DeleteKey(path) || Fail(ERROR_FILE_NOT_FOUND);
  });
}

}  // namespace OS
