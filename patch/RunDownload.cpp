#include "patch/RunDownload.h"

#include <set>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "patch/PatchGuard.h"
#include "patch/PatchSettings.h"
#include "patch/RunDriver.h"
#include "patch/TemporaryFolders.h"
#include "patch/signing/Sha256.h"
#include "resources/MessageText.h"

namespace NolkPatch {
namespace {

constexpr int kLevelInfo = 0;
constexpr int kLevelWarning = 1;
constexpr int kLevelError = 2;
constexpr int kTextSearching = 141;
constexpr int kTextAtFinalVersion = 142;
constexpr int kTextNoMorePatches = 143;
constexpr int kTextSizeUnknown = 144;
constexpr int kTextNoTempFile = 145;
constexpr int kTextDownloading = 147;
constexpr int kTextDownloadFailed = 148;

void Report(int level, int textId, const std::string& tail = std::string()) {
  LogSinkReport(level, LoadMessageText(textId) + NolkUtil::ToWide(tail));
}

// <private temporary root>/<patch name>.zip; false when no safe root can
// be had.
bool MakeArchivePath(std::wstring& archivePath) {
  std::wstring root;
  if (!PrepareTemporaryRoot(root)) return false;
  archivePath = NolkUtil::JoinPath(root, NolkUtil::ToWide(PatchSettings::Get().PatchName()) + L".zip");
  return true;
}

// The run ends well at the final version or where the list has no further
// patch; the database is rebuilt when this run changed the installation or
// an earlier one still owes it.
bool FinishChain(int appliedCount) {
  if (appliedCount > 0 || RebuildOwed()) return RebuildAndSettle();
  return true;
}

bool ArchiveIsComplete(const std::wstring& archivePath, const OnlinePatchList& list) {
  std::uint64_t size = 0;
  if (NolkUtil::GetFileSize(archivePath, size) != NOLKRESULT_OK) return false;
  return size >= list.Progress().expected;
}

void RemoveArchive(const std::wstring& archivePath) {
  RemoveTemporaryFile(archivePath);
  RemoveTemporaryFile(archivePath + L".validator");
}

// A signed list names the SHA-256 of every archive; an archive that does
// not match (changed on the way, or another archive put in its place) is
// never unpacked. The digest was mostly taken while the archive arrived;
// a resumed download is read again.
bool ArchiveMatchesList(const std::wstring& archivePath, const PatchListEntry& entry,
                        const OnlinePatchList& list) {
  NolkSign::Sha256Digest digest{};
  if (list.DownloadedDigest()) {
    digest = *list.DownloadedDigest();
  } else if (!NolkSign::Sha256OfFile(archivePath, digest)) {
    Report(kLevelError, kTextDownloadFailed);
    return false;
  }
  if (!entry.dataSha256.empty() && NolkSign::ToHex(digest) == entry.dataSha256) return true;
  LogSinkReport(kLevelError, L"The patch file does not match the checksum in the signed patch list: " +
                                 entry.patchDataUrl);
  return false;
}

// One patch: size, download, unpack and apply. False ends the run.
bool DownloadAndApply(const PatchListEntry& entry, DownloadURLCallback* callback, OnlinePatchList& list) {
  if (!list.QueryDownloadSize(entry.patchDataUrl))
    LogSinkReport(kLevelWarning, LoadMessageText(kTextSizeUnknown));
  std::wstring archivePath;
  if (!MakeArchivePath(archivePath)) {
    Report(kLevelError, kTextNoTempFile);
    return false;
  }
  Report(kLevelInfo, kTextDownloading);
  if (!list.DownloadPatch(entry.patchDataUrl, archivePath, callback) ||
      !ArchiveIsComplete(archivePath, list)) {
    Report(kLevelError, kTextDownloadFailed);
    return false;
  }
  if (list.VerifiesSignatures() && !ArchiveMatchesList(archivePath, entry, list)) {
    RemoveArchive(archivePath);
    return false;
  }
  const bool applied = UnpackAndApply(archivePath) == kUnpackApplied;
  // An applied archive is not needed again, and one that failed to unpack
  // or apply must not be taken up by the next run.
  RemoveArchive(archivePath);
  return applied;
}

}  // namespace

bool RunDownload(int& appliedCount, DownloadURLCallback* callback, OnlinePatchList& list) {
  appliedCount = 0;
  PatchSettings& settings = PatchSettings::Get();
  if (!SettleCommittedPatch()) return false;
  Report(kLevelInfo, kTextSearching);
  if (!list.FetchPatchList(settings.PatchServers)) {
    Report(kLevelError, kTextDownloadFailed);
    return false;
  }
  std::set<std::string> passed;
  for (;;) {
    if (settings.CurrentVersion() == settings.FinalVersion()) {
      Report(kLevelInfo, kTextAtFinalVersion, settings.FinalVersion());
      return FinishChain(appliedCount);
    }
    const PatchListEntry* entry = list.FindPatch(settings.CurrentVersion());
    // A list whose chain leads back to a version already passed would
    // patch in a circle; it ends there as at a missing patch.
    if (!entry || passed.count(entry->targetVersion) != 0) {
      Report(kLevelInfo, kTextNoMorePatches, settings.CurrentVersion());
      return FinishChain(appliedCount);
    }
    passed.insert(settings.CurrentVersion());
    settings.SetTargetVersion(entry->targetVersion);
    if (!DownloadAndApply(*entry, callback, list)) return false;
    ++appliedCount;
    settings.SetCurrentVersion(settings.TargetVersion());
    settings.SetTargetVersion(std::string());
  }
}

bool RunDownload(int& appliedCount, DownloadURLCallback* callback) {
  OnlinePatchList list;
  return RunDownload(appliedCount, callback, list);
}

}  // namespace NolkPatch
