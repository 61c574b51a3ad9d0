#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "resources/MessageText.h"
#include "resources/StringTable.h"

namespace NolkPatch {
namespace {

#ifdef _WIN32
// The C runtime's _putenv_s changes the process environment as well; an
// empty value removes the variable.
inline void setenv(const char* name, const char* value, int) {
  _putenv_s(name, value);
}
inline void unsetenv(const char* name) {
  _putenv_s(name, "");
}
#endif

// Sets an environment variable for the life of the object and restores the
// previous value afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name)) m_previous = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (m_previous)
      setenv(m_name.c_str(), m_previous->c_str(), 1);
    else
      unsetenv(m_name.c_str());
  }

 private:
  std::string m_name;
  std::optional<std::string> m_previous;
};

// Every test starts and ends language-neutral with no locale variables, so
// the order of tests does not matter.
class MessageText : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageLanguage(LANGUAGE_NEUTRAL); }
  void TearDown() override { SetMessageLanguage(LANGUAGE_NEUTRAL); }

  ScopedEnvironment m_lcAll{"LC_ALL", nullptr};
  ScopedEnvironment m_lcMessages{"LC_MESSAGES", nullptr};
  ScopedEnvironment m_lang{"LANG", nullptr};
};

const std::uint16_t kLanguages[] = {LANGUAGE_ENGLISH, LANGUAGE_GERMAN, LANGUAGE_FRENCH, LANGUAGE_RUSSIAN};

std::map<int, std::wstring> TextsOf(std::uint16_t language) {
  std::map<int, std::wstring> texts;
  for (const StringTableEntry& entry : StringTableEntries())
    if (entry.language == language) texts[entry.id] = entry.text;
  return texts;
}

// The printf conversions of a text in order ("%s", "%d", ...), each with the
// Latin letters that follow it, so that a unit glued to a number ("%dMB")
// must stay as it is; "%%" is a literal percent sign and is skipped.
std::vector<std::wstring> Conversions(const std::wstring& text) {
  std::vector<std::wstring> conversions;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') continue;
    if (i + 1 < text.size() && text[i + 1] == L'%') {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && std::wstring(L"-+ #0123456789.lhz").find(text[end]) != std::wstring::npos)
      ++end;
    std::size_t unitEnd = end + 1;
    while (unitEnd < text.size() && text[unitEnd] < 0x80 && std::iswalpha(text[unitEnd])) ++unitEnd;
    conversions.push_back(text.substr(i, unitEnd - i));
    i = unitEnd - 1;
  }
  return conversions;
}

TEST_F(MessageText, EnglishTextsAreExactlyTheProgramsWording) {
  SetMessageLanguage(LANGUAGE_ENGLISH);
  const std::map<int, std::wstring> expected = {
      {121, L"print usage"},
      {122, L"suppress admin privilege escalation"},
      {123, L"current_install_version"},
      {127, L"target_directory"},
      {128, L"patch details directory"},
      {130, L"launch program onexit"},
      {132,
       L"Either the current Windows user account does not have sufficient privileges to install the patch or "
       L"the Ombrix files are in use.\nPlease login with Administrative access, ensure that all instances of "
       L"Ombrix are closed, and try again."},
      {134, L"Requires Administrator Privileges"},
      {136, L"Failed to read list of servers from "},
      {138, L"Error creating process, code: "},
      {143, L"No (more) patches at server for version: "},
      {144,
       L"Unable to determine the size of the patch file. Possible problem with local proxy or firewall "
       L"software."},
      {151, L"Patching...\n"},
      {152, L"\nFailed to apply the patch: "},
      {157, L"Unable to patch - files in use."},
      {158,
       L"One or more Ombrix-related executables are currently running. Please ensure that all instances of "
       L"Ombrix, Content Manager, OmbrixUtil and the Launcher are closed and then retry patching."},
      {159, L"Files In Use"},
      {162, L"Patching completed."},
      {163, L"Patching aborted."},
      {171, L"Patching install:"},
      {172, L"Repairing install:"},
      {173, L"Repair"},
      {179, L"This patch file is not applicable to your current installation version (%s)."},
      {180, L"Patching from %s to %s."},
      {185, L"(Build hash: %s)\n"},
      {189, L"Target version: %s."},
      {190, L"Apply Update"},
      {195, L"Browse to the new version path"},
      {240,
       L"Insufficient disk space available for patching. Please ensure that at least %dMB are available."},
      {241, L"Checking for available disk space for patching."},
      {242,
       L"Patch installer is unable to determine whether sufficient disk space is available for this "
       L"installation. Patching may fail if insufficient disk space is available."},
  };
  for (const auto& [id, text] : expected) EXPECT_EQ(LoadMessageText(id), text) << "id " << id;
}

TEST_F(MessageText, TableCoversTheIdRangeInEveryLanguage) {
  const auto english = TextsOf(LANGUAGE_ENGLISH);
  ASSERT_FALSE(english.empty());
  EXPECT_GE(english.begin()->first, 121);
  EXPECT_LE(english.rbegin()->first, 242);
  for (std::uint16_t language : kLanguages) {
    const auto texts = TextsOf(language);
    for (const auto& [id, text] : english) {
      EXPECT_TRUE(texts.count(id)) << "language " << language << " lacks id " << id;
      if (language != LANGUAGE_ENGLISH && texts.count(id)) {
        EXPECT_NE(texts.at(id), text) << "language " << language << " id " << id << " is untranslated";
      }
    }
    EXPECT_EQ(texts.size(), english.size()) << "language " << language << " has ids English lacks";
  }
  const std::set<std::uint16_t> known(std::begin(kLanguages), std::end(kLanguages));
  for (const StringTableEntry& entry : StringTableEntries()) EXPECT_TRUE(known.count(entry.language));
}

TEST_F(MessageText, TranslationsKeepConversionsLineBreaksAndTrailingBlanks) {
  const auto english = TextsOf(LANGUAGE_ENGLISH);
  for (std::uint16_t language : {LANGUAGE_GERMAN, LANGUAGE_FRENCH, LANGUAGE_RUSSIAN}) {
    for (const auto& [id, text] : TextsOf(language)) {
      const std::wstring& original = english.at(id);
      EXPECT_EQ(Conversions(text), Conversions(original)) << "language " << language << " id " << id;
      EXPECT_EQ(text.front() == L'\n', original.front() == L'\n') << "language " << language << " id " << id;
      EXPECT_EQ(text.back() == L'\n', original.back() == L'\n') << "language " << language << " id " << id;
      EXPECT_EQ(text.back() == L' ', original.back() == L' ') << "language " << language << " id " << id;
      EXPECT_LT(text.size(), kMessageTextBufferSize) << "language " << language << " id " << id;
    }
  }
}

TEST(MessageTextConversions, RecogniseABrokenTranslation) {
  // The check above is only as good as this parser: swapped, lost or changed
  // conversions must give a different sequence.
  const std::wstring original = L"An unknown error (%d) occurred while patching file %s";
  EXPECT_NE(Conversions(L"Fehler beim Patchen von %s (%d)"), Conversions(original));
  EXPECT_NE(Conversions(L"Fehler (%d) beim Patchen"), Conversions(original));
  EXPECT_NE(Conversions(L"au moins %d Mo"), Conversions(L"at least %dMB"));
  EXPECT_EQ(Conversions(L"100 %% (%5d) %s"), (std::vector<std::wstring>{L"%5d", L"%s"}));
}

TEST_F(MessageText, NeutralLanguageFollowsTheUserLocale) {
  ASSERT_EQ(GetMessageLanguage(), LANGUAGE_NEUTRAL);
  const std::pair<const char*, std::uint16_t> cases[] = {
      {"de_DE.UTF-8", LANGUAGE_GERMAN}, {"fr_FR", LANGUAGE_FRENCH},        {"ru_RU", LANGUAGE_RUSSIAN},
      {"C", LANGUAGE_ENGLISH},          {"en_GB.UTF-8", LANGUAGE_ENGLISH}, {"es_ES", LANGUAGE_ENGLISH},
  };
  const auto english = TextsOf(LANGUAGE_ENGLISH);
  for (const auto& [locale, language] : cases) {
    ScopedEnvironment lang("LANG", locale);
    EXPECT_EQ(UserLocaleLanguage(), language) << locale;
    EXPECT_EQ(LoadMessageText(163), TextsOf(language).at(163)) << locale;
  }
  EXPECT_EQ(LoadMessageText(163), english.at(163)) << "no locale variables";
}

TEST_F(MessageText, LocaleVariablesArePickedInOrder) {
  ScopedEnvironment lang("LANG", "fr_FR.UTF-8");
  ScopedEnvironment messages("LC_MESSAGES", "ru_RU.UTF-8");
  EXPECT_EQ(UserLocaleLanguage(), LANGUAGE_RUSSIAN);
  {
    ScopedEnvironment all("LC_ALL", "de_AT");
    EXPECT_EQ(UserLocaleLanguage(), LANGUAGE_GERMAN);
  }
  {
    ScopedEnvironment emptyAll("LC_ALL", "");
    EXPECT_EQ(UserLocaleLanguage(), LANGUAGE_RUSSIAN) << "an empty variable is skipped";
  }
  EXPECT_EQ(LanguageForLocale(""), LANGUAGE_ENGLISH);
  EXPECT_EQ(LanguageForLocale("POSIX"), LANGUAGE_ENGLISH);
}

TEST_F(MessageText, SwitchingToEnglishOverridesTheLocale) {
  ScopedEnvironment lang("LANG", "de_DE.UTF-8");
  const std::wstring german = LoadMessageText(159);
  SetMessageLanguage(LANGUAGE_ENGLISH);
  EXPECT_EQ(GetMessageLanguage(), LANGUAGE_ENGLISH);
  EXPECT_EQ(LoadMessageText(159), L"Files In Use");
  EXPECT_NE(german, L"Files In Use");
}

TEST_F(MessageText, MissingIdsGiveEmptyText) {
  for (std::uint16_t language : kLanguages) {
    SetMessageLanguage(language);
    for (int id : {-1, 0, 120, 131, 217, 239, 243, 70000}) EXPECT_EQ(LoadMessageText(id), L"") << id;
  }
}

TEST_F(MessageText, UnknownLanguageFallsBackToEnglish) {
  SetMessageLanguage(1033);
  EXPECT_EQ(LoadMessageText(162), L"Patching completed.");
}

TEST_F(MessageText, BufferVariantCopiesAndTerminates) {
  SetMessageLanguage(LANGUAGE_ENGLISH);
  wchar_t buffer[kMessageTextBufferSize];
  std::fill(std::begin(buffer), std::end(buffer), L'x');
  LoadMessageText(134, buffer);
  EXPECT_EQ(std::wstring(buffer), L"Requires Administrator Privileges");
  LoadMessageText(132, buffer);
  EXPECT_EQ(std::wstring(buffer), LoadMessageText(132));
  LoadMessageText(131, buffer);
  EXPECT_EQ(buffer[0], L'\0');
}

}  // namespace
}  // namespace NolkPatch
