#include "resources/MessageText.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "KernelStandard/platform/Platform.h"
#include "resources/StringTable.h"

namespace NolkPatch {
namespace {

std::atomic<std::uint16_t> g_messageLanguage{LANGUAGE_NEUTRAL};

const wchar_t* FindText(std::uint16_t language, int id) {
  if (id < 0 || id > 0xFFFF) return nullptr;
  const auto entries = StringTableEntries();
  const auto before = [](const StringTableEntry& entry, std::pair<std::uint16_t, int> key) {
    return entry.language != key.first ? entry.language < key.first : entry.id < key.second;
  };
  const auto it = std::lower_bound(entries.begin(), entries.end(), std::pair{language, id}, before);
  if (it == entries.end() || it->language != language || it->id != id) return nullptr;
  return it->text;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The first of the locale variables that is set and not empty, as the C
// library itself picks the message locale.
std::string MessageLocale() {
  OS::Platform& os = OS::Current();
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string value;
    if (os.GetEnvironment(name, value) && !value.empty()) return value;
  }
  return {};
}

}  // namespace

void SetMessageLanguage(std::uint16_t language) {
  g_messageLanguage.store(language);
}

std::uint16_t GetMessageLanguage() {
  return g_messageLanguage.load();
}

std::uint16_t LanguageForLocale(const std::string& locale) {
  if (StartsWith(locale, "de")) return LANGUAGE_GERMAN;
  if (StartsWith(locale, "fr")) return LANGUAGE_FRENCH;
  if (StartsWith(locale, "ru")) return LANGUAGE_RUSSIAN;
  return LANGUAGE_ENGLISH;
}

std::uint16_t UserLocaleLanguage() {
  return LanguageForLocale(MessageLocale());
}

std::wstring LoadMessageText(int id) {
  std::uint16_t language = GetMessageLanguage();
  if (language == LANGUAGE_NEUTRAL) language = UserLocaleLanguage();
  const wchar_t* text = FindText(language, id);
  if (text == nullptr && language != LANGUAGE_ENGLISH) text = FindText(LANGUAGE_ENGLISH, id);
  return text != nullptr ? std::wstring(text) : std::wstring();
}

void LoadMessageText(int id, wchar_t (&buffer)[kMessageTextBufferSize]) {
  const std::wstring text = LoadMessageText(id);
  const std::size_t length = std::min(text.size(), kMessageTextBufferSize - 1);
  std::wmemcpy(buffer, text.data(), length);
  buffer[length] = L'\0';
}

}  // namespace NolkPatch
