// The in-memory form of the registry store and its text format, the Windows
// registry export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Korvel\Products]
//   "ProductClass"="Ombrix"
//   "IsPatching"=dword:00000001
//
// Strings escape '\' and '"' with a backslash; "@" names the default value.
// Values of other types (hex:..., possibly continued over several lines)
// are kept as written, so a rewrite never drops them. Files are written as
// UTF-8; UTF-8 (with or without byte-order mark) and UTF-16LE with a
// byte-order mark (what regedit exports) are read. Key paths are relative
// to HKEY_LOCAL_MACHINE; key and value names compare without regard to
// ASCII case and keep the case they were first written with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace OS {

enum class RegistryValueType { String, Dword, Other };

struct RegistryValue {
  std::wstring name;  // empty: the key's default value ("@")
  RegistryValueType type = RegistryValueType::String;
  std::wstring text;        // String: the text; Other: the data as written after '='
  std::uint32_t dword = 0;  // Dword
};

struct RegistryKeyInfo {
  std::uint32_t subkeyCount = 0;
  std::uint32_t longestSubkeyName = 0;  // in characters
  std::uint32_t valueCount = 0;
};

// Orders texts ignoring ASCII case the way the Windows registry does
// (letters compared as capitals).
struct RegistryNameLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};
bool RegistryNamesEqual(const std::wstring& a, const std::wstring& b);

// Turns "SOFTWARE\\Korvel\\" into "SOFTWARE\Korvel": empty components are
// dropped. False when a name holds a line break or NUL, which the file
// format cannot carry.
bool NormalizeKeyPath(const std::wstring& path, std::wstring& normalized);
// Whether a value name or string can be stored (no line break or NUL).
bool IsStorableText(const std::wstring& text);

class RegistryDocument {
 public:
  // False when the text is not a registry file of this kind; the document
  // is then left empty.
  bool Parse(const std::string& bytes);
  std::string Serialize() const;

  // Paths are normalized; the empty path is the root, which always exists.
  bool HasKey(const std::wstring& path) const;
  void CreateKey(const std::wstring& path);  // with every missing parent
  bool DeleteKey(const std::wstring& path);  // with its subkeys
  std::vector<std::wstring> Subkeys(const std::wstring& path) const;
  RegistryKeyInfo Info(const std::wstring& path) const;
  const RegistryValue* FindValue(const std::wstring& path, const std::wstring& name) const;
  std::vector<RegistryValue> Values(const std::wstring& path) const;
  bool SetValue(const std::wstring& path, const RegistryValue& value);
  bool DeleteValue(const std::wstring& path, const std::wstring& name);

 private:
  struct Key {
    std::wstring path;  // as first written
    std::vector<RegistryValue> values;
  };

  bool ParseLine(const std::wstring& line, std::wstring& currentKey);
  bool ParseSection(const std::wstring& line, std::wstring& currentKey);

  std::map<std::wstring, Key, RegistryNameLess> m_keys;
};

}  // namespace OS
