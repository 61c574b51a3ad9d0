// Access to the string table: the user-visible texts by numeric id in
// English, German, French and Russian.
//
// The process-wide string-table language starts language-neutral (0): each
// lookup then picks the language from the user's locale (LC_ALL, then
// LC_MESSAGES, then LANG: "de*" German, "fr*" French, "ru*" Russian, anything
// else English). The patch worker switches to English (9) when it starts.
// A language that lacks an entry falls back to the English text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace NolkPatch {

// Size of the caller buffers that receive texts, terminator included.
constexpr std::size_t kMessageTextBufferSize = 256;

void SetMessageLanguage(std::uint16_t language);
std::uint16_t GetMessageLanguage();

// The language a language-neutral lookup uses for a locale name such as
// "de_DE.UTF-8"; English for "C", "POSIX", empty or unknown names.
std::uint16_t LanguageForLocale(const std::string& locale);
// The language a language-neutral lookup uses now, from the environment.
std::uint16_t UserLocaleLanguage();

// The text for id in the current language; empty when the table has none.
std::wstring LoadMessageText(int id);
// Copies the text and a terminating zero into the buffer; a text too long
// for it is cut at 255 characters. A missing id leaves an empty string.
void LoadMessageText(int id, wchar_t (&buffer)[kMessageTextBufferSize]);

}  // namespace NolkPatch
