// The online patch list of the download mode: "patches.txt" fetched from
// the first patch server that offers a usable one, kept as a map from
// source version to entry, and the size query and download of one patch
// archive. Reports go through the run's log sink (PatchSettings.h).
//
// patches.txt: records of "key: value" lines separated by blank lines;
// keys are trimmed and lower-cased, values trimmed and stripped of one
// pair of enclosing double quotes; a later key replaces an earlier one; a
// line without ":" spoils its record. A record needs non-empty
// "source-version", "target-version", "patch-exe-url" and
// "patch-data-url". A data URL that does not start with "ftp://",
// "http://" or "https://" (any case) is relative to the server's address.
//
// A patcher built with publisher keys (patch/signing/PublisherKeys.h) uses
// a server's list only when "patches.txt.sig" beside it signs it and it has
// not expired (patch/signing/ListSignature.h); a server whose list fails a
// check is skipped with a warning that says why. Its records must then also
// name "patch-data-sha256", the SHA-256 of the archive, which the download
// run checks before unpacking. A patcher without keys ignores both keys.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/DownloadURLCallback.h"
#include "patch/signing/PublisherKeys.h"
#include "patch/signing/Sha256.h"
#include "stream/NolkDataBuffer.h"

namespace NolkPatch {

struct PatchListEntry {
  std::string targetVersion;
  std::wstring patchExeUrl;
  std::wstring patchDataUrl;
  // "patch-data-sha256" in lower-case hexadecimal; empty when the record
  // names none (or the list was parsed without checksums).
  std::string dataSha256;
};

using PatchMap = std::map<std::string, PatchListEntry>;

// Adds the accepted records of `text` to `patches` (a later source version
// replaces an earlier entry); true when any record was accepted.
bool ParsePatchList(const std::string& text, const std::wstring& serverAddress, PatchMap& patches);
// As above; with `requireChecksums` a record is accepted only with a
// "patch-data-sha256" of 64 hexadecimal digits (kept in the entry).
bool ParsePatchList(const std::string& text, const std::wstring& serverAddress, PatchMap& patches,
                    bool requireChecksums);
// Every value of `key` (lower case) in the list's lines that have a ":",
// in order, trimmed and unquoted as record values are.
std::vector<std::string> PatchListValues(const std::string& text, const std::string& key);

// Bytes received against the bytes expected of the download under way.
struct DownloadProgress {
  std::atomic<std::uint64_t> received{0};
  std::atomic<std::uint64_t> expected{0};
  std::atomic<bool> finished{false};
  // 0 when nothing is expected, 100 once finished.
  unsigned Percent() const;
};

// Told after every chunk of an archive download, on the downloading
// thread: (bytes received, bytes expected; 0 when unknown).
using DownloadProgressObserver = std::function<void(std::uint64_t received, std::uint64_t expected)>;
void SetDownloadProgressObserver(DownloadProgressObserver observer);

class OnlinePatchList {
 public:
  // The keys the list and archives must be signed with; the patcher's
  // built-in keys unless a test gives others. An empty set checks nothing.
  explicit OnlinePatchList(const NolkSign::PublisherKeySet& keys = NolkSign::BuiltInPublisherKeys())
      : m_keys(keys) {}
  bool VerifiesSignatures() const { return !m_keys.Empty(); }

  // Tries the servers in order (empty ones skipped); false with the
  // report "Unable to connect to any patch servers." when none has a list
  // with an accepted record.
  bool FetchPatchList(const std::vector<std::wstring>& servers);
  // Exact, case-sensitive lookup; null when there is no entry.
  const PatchListEntry* FindPatch(const std::string& sourceVersion) const;
  // The size of the resource as the expected size (0 on failure); the
  // received count starts again at 0.
  bool QueryDownloadSize(const std::wstring& url);
  // Downloads the archive into `path`. An HTTP download goes on from an
  // earlier run's partial file only when its validator was kept beside it
  // ("<path>.validator"); FTP goes on from the file's length (REST).
  bool DownloadPatch(const std::wstring& url, const std::wstring& path, DownloadURLCallback* callback);

  // With keys: the SHA-256 of the archive file the last successful
  // DownloadPatch wrote, taken as its bytes arrived; empty when they did not
  // arrive in order from the first (a resumed download), so the caller
  // hashes the file itself.
  const std::optional<NolkSign::Sha256Digest>& DownloadedDigest() const { return m_downloadedDigest; }

  const std::wstring& CurrentServer() const { return m_currentServer; }
  const PatchMap& Patches() const { return m_patches; }
  const DownloadProgress& Progress() const { return m_progress; }
  // The file being downloaded into, or null (read under the lock).
  NolkDataBuffer* CurrentDownloadTarget();

 private:
  void SetCurrentDownloadTarget(NolkDataBuffer* target);
  // The signature and expiry checks of one server's list (PatchListTrust.cpp);
  // false, with a warning naming why, when the list must not be used.
  bool TrustList(const std::wstring& server, const std::string& list);

  NolkSign::PublisherKeySet m_keys;
  std::optional<NolkSign::Sha256Digest> m_downloadedDigest;
  PatchMap m_patches;
  std::wstring m_currentServer;
  DownloadProgress m_progress;
  std::mutex m_lock;
  NolkDataBuffer* m_currentTarget = nullptr;
};

}  // namespace NolkPatch
