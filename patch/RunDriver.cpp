#include "patch/RunDriver.h"

#include <set>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/AssetDatabase.h"
#include "patch/PatchGuard.h"
#include "patch/PatchPackage.h"
#include "patch/PatchSettings.h"
#include "patch/TemporaryFolders.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kLevelInfo = 0;
constexpr int kLevelError = 2;
constexpr int kTextNoTempFile = 145;
constexpr int kTextExtractFailed = 178;
constexpr int kTextNoFurtherPatch = 179;
constexpr int kTextPatchingFromTo = 180;

// Replaces the "%s" placeholders of a table text one after the other; a
// value that itself holds "%s" is never filled again.
std::wstring FillPlaceholders(const std::wstring& pattern, std::initializer_list<std::string> values) {
  std::wstring text;
  std::size_t position = 0;
  for (const std::string& value : values) {
    const std::size_t placeholder = pattern.find(L"%s", position);
    if (placeholder == std::wstring::npos) break;
    text += pattern.substr(position, placeholder - position) + NolkUtil::ToWide(value);
    position = placeholder + 2;
  }
  return text + pattern.substr(position);
}

// The archive goes to <temporary root>/<patch name>.zip; false when the
// root cannot be made.
bool MakeArchivePath(std::wstring& archivePath) {
  const std::wstring root = TemporaryRoot();
  if (!NolkUtil::MakeDirectory(root)) return false;
  archivePath = NolkUtil::JoinPath(root, NolkUtil::ToWide(PatchSettings::Get().PatchName()) + L".zip");
  return true;
}

void ReportNoFurtherPatch(const std::string& version) {
  LogSinkReport(kLevelError, FillPlaceholders(LoadMessageText(kTextNoFurtherPatch), {version}));
}

}  // namespace

bool RunOnePatchFromPackage() {
  std::wstring archivePath;
  if (!MakeArchivePath(archivePath)) {
    LogSinkReport(kLevelError, LoadMessageText(kTextNoTempFile));
    return false;
  }
  const std::string source = PatchSettings::Get().CurrentVersion();
  if (PatchPackage::Instance().ExtractPatch(source, archivePath) != NOLKRESULT_OK) {
    LogSinkReport(kLevelError, LoadMessageText(kTextExtractFailed));
    return false;
  }
  // The archive is inside the program; nothing needs the copy afterwards.
  const bool applied = UnpackAndApply(archivePath) == kUnpackApplied;
  RemoveTemporaryFile(archivePath);
  return applied;
}

// A package whose chain leads back to a version already passed would patch
// in a circle for ever; the walk stops there as at a missing patch.
bool RunStandalone() {
  PatchSettings& settings = PatchSettings::Get();
  if (!SettleCommittedPatch()) return false;
  std::set<std::string> passed;
  for (;;) {
    if (settings.CurrentVersion() == settings.FinalVersion()) {
      settings.SetTargetVersion(std::string());
      return RebuildAndSettle();
    }
    passed.insert(settings.CurrentVersion());
    const std::string next = PatchPackage::Instance().FindTargetVersion(settings.CurrentVersion());
    if (next.empty() || passed.count(next) != 0) {
      ReportNoFurtherPatch(settings.CurrentVersion());
      return false;
    }
    settings.SetTargetVersion(next);
    LogSinkReport(kLevelInfo, FillPlaceholders(LoadMessageText(kTextPatchingFromTo),
                                               {settings.CurrentVersion(), settings.TargetVersion()}));
    if (!RunOnePatchFromPackage()) return false;
    settings.SetCurrentVersion(next);
  }
}

}  // namespace NolkPatch
