#include "patch/PatchJournal.h"

#include <sstream>

#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"
#include "patch/EnginePaths.h"

namespace NolkPatch {
namespace {

constexpr char kHeader[] = "KorvelPatchJournal 1";
constexpr wchar_t kJournalName[] = L"KorvelPatch.journal";
constexpr wchar_t kTemporarySuffix[] = L".new";
// A journal lists one line per backup; anything far larger is not ours.
constexpr std::uint64_t kLargestJournal = 64ull * 1024 * 1024;

const char* PhaseName(JournalPhase phase) {
  switch (phase) {
    case JournalPhase::Applying:
      return "applying";
    case JournalPhase::Committed:
      return "committed";
    case JournalPhase::None:
      break;
  }
  return "none";
}

bool ParsePhase(const std::string& text, JournalPhase& phase) {
  for (JournalPhase candidate : {JournalPhase::None, JournalPhase::Applying, JournalPhase::Committed}) {
    if (text == PhaseName(candidate)) {
      phase = candidate;
      return true;
    }
  }
  return false;
}

bool ApplyLine(const std::string& line, PatchJournal& journal) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  const std::string key = line.substr(0, equals);
  const std::string value = line.substr(equals + 1);
  if (key == "rebuild") {
    if (value != "owed") return false;
    journal.rebuildOwed = true;
  } else if (key == "phase") {
    return ParsePhase(value, journal.phase);
  } else if (key == "patch") {
    journal.patch = value;
  } else if (key == "version") {
    journal.version = value;
  } else if (key == "backup") {
    if (value.empty()) return false;
    journal.backups.push_back(OS::FromUtf8(value));
  } else {
    return false;
  }
  return true;
}

bool WriteDurably(const std::wstring& path, const std::string& content) {
  OS::Platform& system = OS::Current();
  const std::wstring temporary = path + kTemporarySuffix;
  if (system.Exists(temporary)) system.DeleteFile(temporary);
  std::FILE* stream = system.OpenStream(temporary, OS::OpenMode::CreateTruncate);
  if (stream == nullptr) return false;
  const bool written = system.WriteStream(stream, content.data(), content.size()) == content.size() &&
                       system.FlushStream(stream, true);
  system.CloseStream(stream);
  if (written && system.ReplaceFile(temporary, path)) return true;
  system.DeleteFile(temporary);
  return false;
}

}  // namespace

std::wstring PatchJournalPath(const std::wstring& installFolder) {
  return JoinListPath(installFolder, kJournalName);
}

std::string FormatPatchJournal(const PatchJournal& journal) {
  std::string text = std::string(kHeader) + "\n";
  if (journal.rebuildOwed) text += "rebuild=owed\n";
  if (!journal.version.empty()) text += "version=" + journal.version + "\n";
  if (journal.phase != JournalPhase::None) {
    text += std::string("phase=") + PhaseName(journal.phase) + "\n";
    text += "patch=" + journal.patch + "\n";
    for (const std::wstring& backup : journal.backups) text += "backup=" + OS::ToUtf8(backup) + "\n";
  }
  return text;
}

// Every line must be known; a journal cut short by a failing disk shows as
// a missing last line end and is refused rather than half believed.
bool ParsePatchJournal(const std::string& text, PatchJournal& journal) {
  journal = PatchJournal();
  if (text.empty() || text.back() != '\n') return false;
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kHeader) return false;
  while (std::getline(lines, line)) {
    if (!ApplyLine(line, journal)) return false;
  }
  const bool hasPatch = !journal.patch.empty();
  return hasPatch == (journal.phase != JournalPhase::None) &&
         (journal.backups.empty() || journal.phase == JournalPhase::Committed);
}

bool ReadPatchJournal(const std::wstring& installFolder, PatchJournal& journal) {
  journal = PatchJournal();
  const std::wstring path = PatchJournalPath(installFolder);
  if (!OS::Current().Exists(path)) return true;
  std::string content;
  return ReadSmallFile(path, kLargestJournal, content) && ParsePatchJournal(content, journal);
}

bool WritePatchJournal(const std::wstring& installFolder, const PatchJournal& journal) {
  const std::wstring path = PatchJournalPath(installFolder);
  if (journal.Empty()) return !OS::Current().Exists(path) || OS::Current().DeleteFile(path);
  return WriteDurably(path, FormatPatchJournal(journal));
}

}  // namespace NolkPatch
