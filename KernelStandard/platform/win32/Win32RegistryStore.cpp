// HKEY_LOCAL_MACHINE itself: on Windows the registry store is the system
// registry, so the game's installer, the game and the patcher see the same
// keys. Key paths are relative to HKEY_LOCAL_MACHINE; the system compares
// names without regard to case. Errors are the system's own codes (a
// missing key or value is ERROR_FILE_NOT_FOUND, a key the process may not
// write ERROR_ACCESS_DENIED); a value of another type than the one asked for
// gives ERROR_INVALID_PARAMETER, as with the store file elsewhere.
#include <algorithm>
#include <cstdio>

#include "KernelStandard/platform/RegistryStore.h"
#include "KernelStandard/platform/win32/Win32Platform.h"

namespace OS {
namespace {

bool Fail(LONG error) {
  SetLastError(static_cast<int>(error));
  return false;
}

// An open key that closes itself.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &m_key; }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

bool OpenKey(const std::wstring& key, REGSAM access, Key& opened) {
  std::wstring path;
  if (!NormalizeKeyPath(key, path)) return Fail(ERROR_INVALID_PARAMETER);
  const LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, opened.Out());
  return result == ERROR_SUCCESS || Fail(result);
}

// A value's raw bytes and type; false with the system's error.
bool QueryRaw(const std::wstring& key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data) {
  Key opened;
  if (!OpenKey(key, KEY_QUERY_VALUE, opened)) return false;
  DWORD size = 0;
  LONG result = ::RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, nullptr, &size);
  while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    data.resize(size);
    result = ::RegQueryValueExW(opened.Get(), name.c_str(), nullptr, &type, data.data(), &size);
    if (result == ERROR_SUCCESS) {
      data.resize(size);
      return true;
    }
  }
  return Fail(result);
}

std::wstring TextOf(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::copy(data.begin(), data.begin() + text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
  const std::size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return text;
}

// Other value types in the form the registry export format writes them.
std::wstring ExportText(DWORD type, const std::vector<BYTE>& data) {
  wchar_t prefix[16];
  if (type == REG_BINARY) {
    std::swprintf(prefix, 16, L"hex:");
  } else {
    std::swprintf(prefix, 16, L"hex(%lx):", static_cast<unsigned long>(type));
  }
  std::wstring text = prefix;
  for (std::size_t i = 0; i < data.size(); ++i) {
    wchar_t byte[4];
    std::swprintf(byte, 4, L"%02x", static_cast<unsigned>(data[i]));
    if (i > 0) text += L',';
    text += byte;
  }
  return text;
}

bool SetRaw(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  Key opened;
  if (!OpenKey(key, KEY_SET_VALUE, opened)) return false;
  const LONG result =
      ::RegSetValueExW(opened.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  return result == ERROR_SUCCESS || Fail(result);
}

}  // namespace

RegistryStore::RegistryStore(std::string filePath) : m_filePath(std::move(filePath)) {}

RegistryStore& RegistryStore::Default() {
  static RegistryStore store;
  return store;
}

std::string RegistryStore::FilePath() const {
  return "HKEY_LOCAL_MACHINE";
}

bool RegistryStore::CreateKey(const std::wstring& key) {
  std::wstring path;
  if (!NormalizeKeyPath(key, path)) return Fail(ERROR_INVALID_PARAMETER);
  Key created;
  DWORD disposition = 0;
  const LONG result =
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE, nullptr, created.Out(), &disposition);
  return result == ERROR_SUCCESS || Fail(result);
}

bool RegistryStore::KeyExists(const std::wstring& key) const {
  Key opened;
  return OpenKey(key, KEY_READ, opened);
}

bool RegistryStore::CanWrite(const std::wstring& key) const {
  Key opened;
  return OpenKey(key, KEY_WRITE, opened);
}

std::vector<std::wstring> RegistryStore::EnumSubkeys(const std::wstring& key) const {
  std::vector<std::wstring> names;
  Key opened;
  if (!OpenKey(key, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, opened)) return names;
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    longest = 255;
  std::vector<wchar_t> name(longest + 2);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG result =
        ::RegEnumKeyExW(opened.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      --index;
      continue;
    }
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(name.data(), length);
  }
  std::sort(names.begin(), names.end(), RegistryNameLess());
  return names;
}

bool RegistryStore::QueryInfo(const std::wstring& key, RegistryKeyInfo& info) const {
  Key opened;
  if (!OpenKey(key, KEY_QUERY_VALUE, opened)) return false;
  DWORD subkeys = 0, longest = 0, values = 0;
  const LONG result = ::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &subkeys, &longest, nullptr,
                                         &values, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return Fail(result);
  info.subkeyCount = subkeys;
  info.longestSubkeyName = longest;
  info.valueCount = values;
  return true;
}

bool RegistryStore::GetString(const std::wstring& key, const std::wstring& name, std::wstring& value) const {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryRaw(key, name, type, data)) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return Fail(ERROR_INVALID_PARAMETER);
  value = TextOf(data);
  return true;
}

bool RegistryStore::GetDword(const std::wstring& key, const std::wstring& name, std::uint32_t& value) const {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!QueryRaw(key, name, type, data)) return false;
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) return Fail(ERROR_INVALID_PARAMETER);
  DWORD number = 0;
  std::copy(data.begin(), data.end(), reinterpret_cast<BYTE*>(&number));
  value = number;
  return true;
}

bool RegistryStore::GetValues(const std::wstring& key, std::vector<RegistryValue>& values) const {
  Key opened;
  if (!OpenKey(key, KEY_QUERY_VALUE, opened)) return false;
  DWORD longestName = 0, longestData = 0;
  LONG result = ::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &longestName, &longestData, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return Fail(result);
  values.clear();
  std::vector<wchar_t> name(longestName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    result = ::RegEnumValueW(opened.Get(), index, name.data(), &nameLength, nullptr, &type, data.data(),
                             &dataLength);
    if (result == ERROR_MORE_DATA) {  // a value grew meanwhile
      name.resize(name.size() * 2);
      data.resize(data.size() * 2);
      --index;
      continue;
    }
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return Fail(result);
    const std::vector<BYTE> bytes(data.begin(), data.begin() + dataLength);
    RegistryValue value;
    value.name.assign(name.data(), nameLength);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      value.type = RegistryValueType::String;
      value.text = TextOf(bytes);
    } else if (type == REG_DWORD && bytes.size() == sizeof(DWORD)) {
      value.type = RegistryValueType::Dword;
      DWORD number = 0;
      std::copy(bytes.begin(), bytes.end(), reinterpret_cast<BYTE*>(&number));
      value.dword = number;
    } else {
      value.type = RegistryValueType::Other;
      value.text = ExportText(type, bytes);
    }
    values.push_back(std::move(value));
  }
  return true;
}

bool RegistryStore::SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  if (name.find(L'\0') != std::wstring::npos || value.find(L'\0') != std::wstring::npos)
    return Fail(ERROR_INVALID_PARAMETER);
  const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return SetRaw(key, name, REG_SZ, value.c_str(), size);
}

bool RegistryStore::SetDword(const std::wstring& key, const std::wstring& name, std::uint32_t value) {
  if (name.find(L'\0') != std::wstring::npos) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD number = value;
  return SetRaw(key, name, REG_DWORD, &number, sizeof(number));
}

bool RegistryStore::DeleteValue(const std::wstring& key, const std::wstring& name) {
  Key opened;
  if (!OpenKey(key, KEY_SET_VALUE, opened)) return false;
  const LONG result = ::RegDeleteValueW(opened.Get(), name.c_str());
  return result == ERROR_SUCCESS || Fail(result);
}

bool RegistryStore::DeleteKey(const std::wstring& key) {
  std::wstring path;
  if (!NormalizeKeyPath(key, path)) return Fail(ERROR_INVALID_PARAMETER);
  if (path.empty()) return Fail(ERROR_ACCESS_DENIED);
  // The subkeys go first; a key with subkeys cannot be deleted by itself.
  Key opened;
  if (!OpenKey(path, KEY_READ | KEY_WRITE | DELETE, opened)) return false;
  LONG result = ::RegDeleteTreeW(opened.Get(), nullptr);
  if (result != ERROR_SUCCESS) return Fail(result);
  result = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  return result == ERROR_SUCCESS || Fail(result);
}

}  // namespace OS
