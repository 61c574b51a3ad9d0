#include "KernelStandard/platform/RegistryDocument.h"

#include <algorithm>
#include <cwchar>

#include "KernelStandard/platform/Platform.h"

namespace OS {
namespace {

const std::wstring kHeader = L"Windows Registry Editor Version 5.00";
const std::wstring kOldHeader = L"REGEDIT4";
const std::wstring kRoot = L"HKEY_LOCAL_MACHINE";

wchar_t Upper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

std::wstring TrimRight(const std::wstring& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == L' ' || text[end - 1] == L'\t' || text[end - 1] == L'\r')) --end;
  return text.substr(0, end);
}

std::wstring TrimLeft(const std::wstring& text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == L' ' || text[start] == L'\t')) ++start;
  return text.substr(start);
}

std::wstring DecodeUtf16Le(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  std::wstring text;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t code = units[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    text.push_back(static_cast<wchar_t>(code));
  }
  return text;
}

std::wstring DecodeFile(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return DecodeUtf16Le(bytes);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return FromUtf8(bytes.substr(3));
  return FromUtf8(bytes);
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(TrimRight(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

bool ReadQuoted(const std::wstring& text, std::size_t& pos, std::wstring& out);

// Whether a value line's data goes on in the next line: unquoted (hex) data
// ending with a backslash.
bool Continues(const std::wstring& line) {
  if (line.empty() || line.back() != L'\\') return false;
  std::size_t pos = 0;
  std::wstring name;
  if (line[0] == L'@') {
    pos = 1;
  } else if (line[0] != L'"' || !ReadQuoted(line, pos, name)) {
    return false;
  }
  pos = line.find_first_not_of(L" \t=", pos);
  return pos != std::wstring::npos && line[pos] != L'"';
}

// Joins hex data continued with a trailing backslash onto one line.
std::vector<std::wstring> JoinContinuations(const std::vector<std::wstring>& lines) {
  std::vector<std::wstring> joined;
  bool continuing = false;
  for (const std::wstring& line : lines) {
    if (continuing) {
      joined.back().pop_back();
      joined.back() += TrimLeft(line);
    } else {
      joined.push_back(line);
    }
    continuing = Continues(joined.back());
  }
  return joined;
}

// Reads a quoted, escaped text starting at text[pos] == '"'; pos ends after
// the closing quote. False when it is not closed.
bool ReadQuoted(const std::wstring& text, std::size_t& pos, std::wstring& out) {
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    const wchar_t c = text[pos];
    if (c == L'"') {
      ++pos;
      return true;
    }
    if (c == L'\\' && pos + 1 < text.size() && (text[pos + 1] == L'\\' || text[pos + 1] == L'"')) ++pos;
    out.push_back(text[pos]);
  }
  return false;
}

std::wstring Quote(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (const wchar_t c : text) {
    if (c == L'\\' || c == L'"') quoted.push_back(L'\\');
    quoted.push_back(c);
  }
  quoted.push_back(L'"');
  return quoted;
}

bool ParseDword(const std::wstring& digits, std::uint32_t& value) {
  if (digits.empty() || digits.size() > 8) return false;
  value = 0;
  for (const wchar_t c : digits) {
    const wchar_t u = Upper(c);
    const int digit = (u >= L'0' && u <= L'9') ? u - L'0' : (u >= L'A' && u <= L'F') ? u - L'A' + 10 : -1;
    if (digit < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return true;
}

bool ParseData(const std::wstring& data, RegistryValue& value) {
  if (!data.empty() && data[0] == L'"') {
    std::size_t pos = 0;
    value.type = RegistryValueType::String;
    return ReadQuoted(data, pos, value.text) && TrimRight(data.substr(pos)).empty();
  }
  if (data.size() > 6 && RegistryNamesEqual(data.substr(0, 6), L"dword:")) {
    value.type = RegistryValueType::Dword;
    return ParseDword(data.substr(6), value.dword);
  }
  value.type = RegistryValueType::Other;
  value.text = data;
  return !data.empty();
}

std::wstring FormatData(const RegistryValue& value) {
  switch (value.type) {
    case RegistryValueType::String:
      return Quote(value.text);
    case RegistryValueType::Dword: {
      wchar_t digits[16];
      std::swprintf(digits, 16, L"dword:%08x", static_cast<unsigned>(value.dword));
      return digits;
    }
    case RegistryValueType::Other:
      break;
  }
  return value.text;
}

std::wstring ParentOf(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring LastComponent(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsBelow(const std::wstring& path, const std::wstring& ancestor) {
  if (ancestor.empty()) return true;
  return path.size() > ancestor.size() && path[ancestor.size()] == L'\\' &&
         RegistryNamesEqual(path.substr(0, ancestor.size()), ancestor);
}

}  // namespace

bool RegistryNameLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return Upper(x) < Upper(y); });
}

bool RegistryNamesEqual(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Upper(x) == Upper(y); });
}

bool IsStorableText(const std::wstring& text) {
  return text.find_first_of(std::wstring(L"\r\n\0", 3)) == std::wstring::npos;
}

bool NormalizeKeyPath(const std::wstring& path, std::wstring& normalized) {
  if (!IsStorableText(path)) return false;
  normalized.clear();
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) {
      if (!normalized.empty()) normalized.push_back(L'\\');
      normalized += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return true;
}

// --- Parsing ---------------------------------------------------------------

bool RegistryDocument::Parse(const std::string& bytes) {
  m_keys.clear();
  bool headerSeen = false;
  bool inSection = false;
  std::wstring currentKey;
  for (const std::wstring& line : JoinContinuations(SplitLines(DecodeFile(bytes)))) {
    if (line.empty() || line[0] == L';') continue;
    bool understood;
    if (!headerSeen) {
      understood = headerSeen = (line == kHeader || line == kOldHeader);
    } else if (line[0] == L'[') {
      understood = inSection = ParseSection(line, currentKey);
    } else {
      understood = inSection && ParseLine(line, currentKey);
    }
    if (!understood) {
      m_keys.clear();
      return false;
    }
  }
  return true;  // an empty file is an empty store
}

bool RegistryDocument::ParseSection(const std::wstring& line, std::wstring& currentKey) {
  if (line.back() != L']') return false;
  const std::wstring inner = line.substr(1, line.size() - 2);
  if (inner.size() < kRoot.size() || !RegistryNamesEqual(inner.substr(0, kRoot.size()), kRoot)) return false;
  const std::wstring rest = inner.substr(kRoot.size());
  if (!rest.empty() && rest[0] != L'\\') return false;
  if (!NormalizeKeyPath(rest, currentKey) || currentKey.empty()) return false;
  CreateKey(currentKey);
  return true;
}

bool RegistryDocument::ParseLine(const std::wstring& line, std::wstring& currentKey) {
  RegistryValue value;
  std::size_t pos = 0;
  if (line[0] == L'@') {
    pos = 1;
  } else if (line[0] != L'"' || !ReadQuoted(line, pos, value.name)) {
    return false;
  }
  const std::wstring rest = TrimLeft(line.substr(pos));
  if (rest.empty() || rest[0] != L'=') return false;
  return ParseData(TrimLeft(rest.substr(1)), value) && SetValue(currentKey, value);
}

std::string RegistryDocument::Serialize() const {
  std::wstring text = kHeader + L"\n";
  for (const auto& [normalized, key] : m_keys) {
    text += L"\n[" + kRoot + L"\\" + key.path + L"]\n";
    for (const RegistryValue& value : key.values) {
      text +=
          (value.name.empty() ? std::wstring(L"@") : Quote(value.name)) + L"=" + FormatData(value) + L"\n";
    }
  }
  return ToUtf8(text);
}

// --- Keys and values -----------------------------------------------------------

bool RegistryDocument::HasKey(const std::wstring& path) const {
  return path.empty() || m_keys.count(path) > 0;
}

void RegistryDocument::CreateKey(const std::wstring& path) {
  if (path.empty() || HasKey(path)) return;
  CreateKey(ParentOf(path));
  const std::wstring parent = ParentOf(path);
  // Keep the case of the parent as first written, and this name as given.
  const std::wstring stored = parent.empty() ? path : m_keys.at(parent).path + L"\\" + LastComponent(path);
  m_keys.emplace(path, Key{stored, {}});
}

bool RegistryDocument::DeleteKey(const std::wstring& path) {
  if (path.empty() || !HasKey(path)) return false;
  for (auto it = m_keys.begin(); it != m_keys.end();) {
    it = (RegistryNamesEqual(it->first, path) || IsBelow(it->first, path)) ? m_keys.erase(it) : std::next(it);
  }
  return true;
}

std::vector<std::wstring> RegistryDocument::Subkeys(const std::wstring& path) const {
  std::vector<std::wstring> names;
  for (const auto& [normalized, key] : m_keys) {
    if (IsBelow(normalized, path) && RegistryNamesEqual(ParentOf(normalized), path)) {
      names.push_back(LastComponent(key.path));
    }
  }
  std::sort(names.begin(), names.end(), RegistryNameLess());
  return names;
}

RegistryKeyInfo RegistryDocument::Info(const std::wstring& path) const {
  RegistryKeyInfo info;
  for (const std::wstring& name : Subkeys(path)) {
    ++info.subkeyCount;
    info.longestSubkeyName = std::max(info.longestSubkeyName, static_cast<std::uint32_t>(name.size()));
  }
  info.valueCount = static_cast<std::uint32_t>(Values(path).size());
  return info;
}

const RegistryValue* RegistryDocument::FindValue(const std::wstring& path, const std::wstring& name) const {
  const auto key = m_keys.find(path);
  if (key == m_keys.end()) return nullptr;
  for (const RegistryValue& value : key->second.values) {
    if (RegistryNamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

std::vector<RegistryValue> RegistryDocument::Values(const std::wstring& path) const {
  const auto key = m_keys.find(path);
  return key == m_keys.end() ? std::vector<RegistryValue>() : key->second.values;
}

bool RegistryDocument::SetValue(const std::wstring& path, const RegistryValue& value) {
  const auto key = m_keys.find(path);
  if (key == m_keys.end()) return false;
  for (RegistryValue& existing : key->second.values) {
    if (RegistryNamesEqual(existing.name, value.name)) {
      const std::wstring keptName = existing.name;
      existing = value;
      existing.name = keptName;
      return true;
    }
  }
  key->second.values.push_back(value);
  return true;
}

bool RegistryDocument::DeleteValue(const std::wstring& path, const std::wstring& name) {
  const auto key = m_keys.find(path);
  if (key == m_keys.end()) return false;
  auto& values = key->second.values;
  const auto found = std::find_if(values.begin(), values.end(),
                                  [&](const RegistryValue& v) { return RegistryNamesEqual(v.name, name); });
  if (found == values.end()) return false;
  values.erase(found);
  return true;
}

}  // namespace OS
