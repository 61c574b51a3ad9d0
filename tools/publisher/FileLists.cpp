#include "tools/publisher/FileLists.h"

#include <algorithm>

#include "KernelStandard/TextConvert.h"
#include "tools/publisher/PublisherNames.h"

namespace KorvelTools {
namespace {

bool IsConverterProgram(const FileChange& entry) {
  return LastComponent(entry.path) == kConverterProgramName;
}

bool IsLauncher(const FileChange& entry) {
  return LastComponent(entry.path) == kLauncherName;
}

bool MentionsLauncher(const FileChange& entry) {
  return entry.path.find(kLauncherName) != std::wstring::npos;
}

void AppendLine(std::string& text, const std::string& line) {
  text += line;
  text += "\r\n";
}

}  // namespace

std::vector<FileChange> OrderPatchedList(std::vector<FileChange> changed,
                                         std::vector<std::string>& warnings) {
  std::sort(changed.begin(), changed.end(),
            [](const FileChange& left, const FileChange& right) { return left.path < right.path; });
  std::vector<FileChange> converters, others, launchers, mentioning;
  for (FileChange& entry : changed) {
    if (IsConverterProgram(entry))
      converters.push_back(std::move(entry));
    else if (IsLauncher(entry))
      launchers.push_back(std::move(entry));
    else if (MentionsLauncher(entry))
      mentioning.push_back(std::move(entry));
    else
      others.push_back(std::move(entry));
  }
  if (launchers.empty()) {
    others.insert(others.end(), mentioning.begin(), mentioning.end());
    mentioning.clear();
  } else if (launchers.size() + mentioning.size() > 1) {
    warnings.push_back("several patched paths contain \"NolkLauncher.exe\"; " +
                       Printable(launchers.front().path) +
                       " is listed first among them so that the engine patches it last");
  }
  std::vector<FileChange> ordered = std::move(converters);
  for (auto* group : {&others, &launchers, &mentioning})
    ordered.insert(ordered.end(), group->begin(), group->end());
  return ordered;
}

std::string FormatFileList(const std::vector<FileChange>& entries) {
  std::string text;
  for (const FileChange& entry : entries) {
    AppendLine(text, NolkUtil::ToNarrow(entry.path));
    AppendLine(text, entry.newMd5);
    AppendLine(text, entry.oldMd5);
  }
  return text;
}

}  // namespace KorvelTools
