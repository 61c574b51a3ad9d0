// HKEY_LOCAL_MACHINE as a file-backed store (format: RegistryDocument.h).
//
// The store file is the one given to the constructor. The default store is
// looked up at every operation (so a test can point it elsewhere), in this
// order:
//   1. the environment variable KORVEL_REGISTRY, when set and not empty;
//   2. for root, /var/lib/korvel/registry.reg (the machine's store);
//   3. for any other user, <data>/korvel/registry.reg when that file exists,
//      where <data> is $XDG_DATA_HOME, else ~/.local/share;
//   4. the machine's store when that file exists (a game registered by root
//      is still found);
//   5. <data>/korvel/registry.reg, made by the first write.
// A user without a home folder uses the machine's store. A missing store
// reads as empty; only writes create the file.
//
// Key paths are relative to HKEY_LOCAL_MACHINE, e.g. L"SOFTWARE\\Korvel";
// key and value names compare without regard to case. Failures return
// false (or an empty result) and leave a system error as the last error:
// ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_ACCESS_DENIED when
// the store may not be written, ERROR_INVALID_PARAMETER for a name or text
// the format cannot hold or a value of another type, ERROR_GEN_FAILURE for
// a store file that is not a registry file (it is then never overwritten).
//
// Every change takes an exclusive lock on "<store>.lock", reads the store
// afresh, applies the change, writes a temporary file in the same folder,
// forces it to disk and renames it over the store, so concurrent writers
// never lose each other's updates and a crash never leaves a half-written
// store. Readers need no lock. The rename can be made to fail with the
// fault rule operation "RegistryReplace".
//
// The store may be written when its folder (or, while that is missing, the
// nearest existing parent) and the store file, if present, are writable by
// the process and carry a write permission bit: a store or folder marked
// read-only (chmod a-w) is protected even from a privileged process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KernelStandard/platform/RegistryDocument.h"

namespace OS {

class RegistryStore {
 public:
  // The default store's location, resolved at every operation.
  RegistryStore() = default;
  explicit RegistryStore(std::string filePath);

  // The process-wide store at the default location.
  static RegistryStore& Default();
  std::string FilePath() const;

  // Creates the key and its missing parents (true when it exists already).
  bool CreateKey(const std::wstring& key);
  bool KeyExists(const std::wstring& key) const;
  // Whether the key exists and may be opened for writing.
  bool CanWrite(const std::wstring& key) const;
  // Names of the direct subkeys in case-insensitive alphabetical order;
  // empty for a missing key.
  std::vector<std::wstring> EnumSubkeys(const std::wstring& key) const;
  bool QueryInfo(const std::wstring& key, RegistryKeyInfo& info) const;
  bool GetString(const std::wstring& key, const std::wstring& name, std::wstring& value) const;
  bool GetDword(const std::wstring& key, const std::wstring& name, std::uint32_t& value) const;
  bool GetValues(const std::wstring& key, std::vector<RegistryValue>& values) const;

  // Writes fail when the key does not exist (create it first).
  bool SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
  bool SetDword(const std::wstring& key, const std::wstring& name, std::uint32_t value);
  bool DeleteValue(const std::wstring& key, const std::wstring& name);
  // Removes the key with all its subkeys; the root cannot be removed.
  bool DeleteKey(const std::wstring& key);

 private:
  bool Load(RegistryDocument& document) const;
  bool Read(const std::wstring& key,
            const std::function<bool(const RegistryDocument&, const std::wstring&)>& query) const;
  bool Modify(const std::wstring& key,
              const std::function<bool(RegistryDocument&, const std::wstring&)>& change);

  std::string m_filePath;  // empty: the default location
};

}  // namespace OS
