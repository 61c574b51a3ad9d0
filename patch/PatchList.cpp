#include "patch/PatchList.h"

#include <cctype>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "net/InternetClient.h"
#include "patch/PatchSettings.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/Sha256.h"
#include "patch/signing/WrittenFileDigest.h"
#include "stream/NolkDataBufferFile.h"
#include "stream/NolkDataBufferMemory.h"

namespace NolkPatch {
namespace {

constexpr int kLevelInfo = 0;
constexpr int kLevelError = 2;

std::mutex g_observerLock;
DownloadProgressObserver g_observer;

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return value.substr(1, value.size() - 2);
  return value;
}

// Lines end with CR, LF, CR LF or LF CR; a last line without an end counts.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string::npos) {
      lines.push_back(text.substr(position));
      break;
    }
    lines.push_back(text.substr(position, end - position));
    position = end + 1;
    if (position < text.size() && (text[position] == '\r' || text[position] == '\n') &&
        text[position] != text[end])
      ++position;
  }
  return lines;
}

bool IsAbsoluteUrl(const std::string& url) {
  const std::string lower = LowerCase(url.substr(0, 8));
  return lower.rfind("ftp://", 0) == 0 || lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

struct Record {
  std::map<std::string, std::string> values;
  bool valid = true;
};

void AddRecordLine(const std::string& line, Record& record) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) {
    record.valid = false;
    return;
  }
  record.values[LowerCase(Trimmed(line.substr(0, colon)))] = Unquoted(Trimmed(line.substr(colon + 1)));
}

bool IsSha256Text(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool AcceptRecord(const Record& record, const std::wstring& serverAddress, PatchMap& patches,
                  bool requireChecksums) {
  if (!record.valid) return false;
  auto value = [&record](const char* key) {
    const auto found = record.values.find(key);
    return found == record.values.end() ? std::string() : found->second;
  };
  const std::string source = value("source-version");
  const std::string target = value("target-version");
  const std::string exeUrl = value("patch-exe-url");
  const std::string dataUrl = value("patch-data-url");
  if (source.empty() || target.empty() || exeUrl.empty() || dataUrl.empty()) return false;
  PatchListEntry entry{target, NolkUtil::ToWide(exeUrl), NolkUtil::ToWide(dataUrl), std::string()};
  if (requireChecksums) {
    entry.dataSha256 = LowerCase(value(NolkSign::kArchiveChecksumKey));
    if (!IsSha256Text(entry.dataSha256)) return false;
  }
  if (!IsAbsoluteUrl(dataUrl)) {
    if (serverAddress.empty()) return false;
    entry.patchDataUrl = NolkUtil::JoinPath(serverAddress, entry.patchDataUrl);
  }
  patches[source] = std::move(entry);
  return true;
}

// A buffer that passes everything to the archive file and counts what
// arrives for the progress display; with a digest, it tells the digest
// where each write went and flushes the file whenever the digest wants to
// read on (for the signed list's checksum).
class CountingDestination final : public NolkDataBuffer {
 public:
  CountingDestination(NolkDataBuffer& target, DownloadProgress& progress, NolkSign::WrittenFileDigest* digest)
      : m_target(target), m_progress(progress), m_digest(digest) {}
  std::uint64_t GetSize() const override { return m_target.GetSize(); }
  NolkResult SetSize(std::uint64_t length) override {
    const NolkResult result = m_target.SetSize(length);
    if (m_digest != nullptr && result == NOLKRESULT_OK) m_digest->Resized(length);
    return Told(result);
  }
  std::uint64_t GetPosition() const override { return m_target.GetPosition(); }
  NolkResult SetPosition(std::uint64_t position) override { return Told(m_target.SetPosition(position)); }
  NolkResult WriteData(const void* data, std::uint32_t length) override {
    const std::uint64_t position = m_target.GetPosition();
    const NolkResult result = m_target.WriteData(data, length);
    if (m_digest != nullptr && result == NOLKRESULT_OK && m_digest->Written(position, length)) {
      m_target.Flush();
      m_digest->Flushed();
    }
    return Told(result);
  }
  NolkResult ReadData(void* data, std::uint32_t length) override { return m_target.ReadData(data, length); }
  void Flush() override { m_target.Flush(); }

 private:
  NolkResult Told(NolkResult result) {
    m_progress.received = m_target.GetPosition();
    std::lock_guard lock(g_observerLock);
    if (g_observer) g_observer(m_progress.received, m_progress.expected);
    return result;
  }
  NolkDataBuffer& m_target;
  DownloadProgress& m_progress;
  NolkSign::WrittenFileDigest* m_digest;
};

std::wstring ValidatorPath(const std::wstring& archivePath) {
  return archivePath + L".validator";
}

bool IsHttpUrl(const std::string& url) {
  return LowerCase(url.substr(0, 8)).rfind("http", 0) == 0;
}

}  // namespace

bool ParsePatchList(const std::string& text, const std::wstring& serverAddress, PatchMap& patches) {
  return ParsePatchList(text, serverAddress, patches, false);
}

std::vector<std::string> PatchListValues(const std::string& text, const std::string& key) {
  std::vector<std::string> values;
  for (const std::string& line : SplitLines(text)) {
    Record record;
    AddRecordLine(line, record);
    const auto found = record.values.find(key);
    if (record.valid && found != record.values.end()) values.push_back(found->second);
  }
  return values;
}

bool ParsePatchList(const std::string& text, const std::wstring& serverAddress, PatchMap& patches,
                    bool requireChecksums) {
  bool accepted = false;
  Record record;
  bool inRecord = false;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) {
      if (inRecord) accepted = AcceptRecord(record, serverAddress, patches, requireChecksums) || accepted;
      record = Record();
      inRecord = false;
      continue;
    }
    inRecord = true;
    AddRecordLine(line, record);
  }
  if (inRecord) accepted = AcceptRecord(record, serverAddress, patches, requireChecksums) || accepted;
  return accepted;
}

unsigned DownloadProgress::Percent() const {
  if (finished) return 100;
  const std::uint64_t total = expected;
  if (total == 0) return 0;
  const std::uint64_t done = received;
  return static_cast<unsigned>(done >= total ? 100 : done * 100 / total);
}

void SetDownloadProgressObserver(DownloadProgressObserver observer) {
  std::lock_guard lock(g_observerLock);
  g_observer = std::move(observer);
}

bool OnlinePatchList::FetchPatchList(const std::vector<std::wstring>& servers) {
  for (const std::wstring& server : servers) {
    if (server.empty()) continue;
    const std::wstring url = NolkUtil::JoinPath(server, L"patches.txt");
    NolkDataBufferMemoryDynamic list;
    if (NolkUtil::DownloadURL(NolkUtil::ToNarrow(url), list, NolkUtil::kDownloadBypassCache, nullptr) !=
        NOLKRESULT_OK) {
      LogSinkReport(kLevelInfo, L"Unable to download patch file: " + url);
      continue;
    }
    const std::string text(list.Bytes().begin(), list.Bytes().end());
    if (VerifiesSignatures() && !TrustList(server, text)) continue;
    PatchMap patches;
    if (ParsePatchList(text, server, patches, VerifiesSignatures())) {
      m_patches = std::move(patches);
      m_currentServer = server;
      return true;
    }
  }
  LogSinkReport(kLevelInfo, L"Unable to connect to any patch servers.");
  m_currentServer.clear();
  return false;
}

const PatchListEntry* OnlinePatchList::FindPatch(const std::string& sourceVersion) const {
  const auto found = m_patches.find(sourceVersion);
  return found == m_patches.end() ? nullptr : &found->second;
}

bool OnlinePatchList::QueryDownloadSize(const std::wstring& url) {
  std::uint64_t size = 0;
  const bool known = NolkUtil::GetURLSize(NolkUtil::ToNarrow(url), size) == NOLKRESULT_OK;
  m_progress.expected = known ? size : 0;
  m_progress.received = 0;
  m_progress.finished = false;
  return known;
}

NolkDataBuffer* OnlinePatchList::CurrentDownloadTarget() {
  std::lock_guard lock(m_lock);
  return m_currentTarget;
}

void OnlinePatchList::SetCurrentDownloadTarget(NolkDataBuffer* target) {
  std::lock_guard lock(m_lock);
  m_currentTarget = target;
}

}  // namespace NolkPatch

namespace NolkPatch {
namespace {

// What a partial archive was downloaded from, kept beside it as
// "<url>\n<etag>\n<last-modified>\n<size>\n": the URL of the list entry,
// the HTTP validator of the response its bytes came from, and the size the
// server gave for it (FTP). A partial file goes on only with a record of
// the same entry; anything else starts over.
struct ResumeRecord {
  std::string url;
  NolkUtil::HttpResumePoint resume;
  std::string size;
};

std::vector<std::string> RecordLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  for (std::size_t end; (end = text.find('\n', position)) != std::string::npos; position = end + 1)
    lines.push_back(text.substr(position, end - position));
  return lines;
}

ResumeRecord ReadRecord(const std::wstring& archivePath) {
  ResumeRecord record;
  NolkDataBufferFile file(ValidatorPath(archivePath), NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen() || file.GetSize() == 0 || file.GetSize() > 16384) return record;
  std::string text(file.GetSize(), '\0');
  if (file.ReadData(text.data(), static_cast<std::uint32_t>(text.size())) != NOLKRESULT_OK) return record;
  const std::vector<std::string> lines = RecordLines(text);
  if (lines.size() != 4) return record;
  record.url = lines[0];
  record.resume.etag = lines[1];
  record.resume.lastModified = lines[2];
  record.size = lines[3];
  return record;
}

void DropRecord(const std::wstring& archivePath) {
  if (NolkUtil::FileExists(ValidatorPath(archivePath))) NolkUtil::DeleteFile(ValidatorPath(archivePath));
}

void KeepRecord(const std::wstring& archivePath, const ResumeRecord& record) {
  NolkDataBufferFile file(ValidatorPath(archivePath), NolkDataBufferFile::WriteNew);
  const std::string text =
      record.url + "\n" + record.resume.etag + "\n" + record.resume.lastModified + "\n" + record.size + "\n";
  if (file.WriteData(text.data(), static_cast<std::uint32_t>(text.size())) == NOLKRESULT_OK) file.Flush();
}

// Whether the bytes already in the archive file are the start of the
// entry's archive as the server has it now (as far as can be told before
// asking: HTTP has the server check the validator with If-Range).
bool PartialFileBelongs(const ResumeRecord& kept, const std::string& url, bool http, std::uint64_t expected,
                        std::uint64_t length) {
  if (length == 0 || kept.url != url) return false;
  if (http) return kept.resume.HasValidator();
  return expected > 0 && kept.size == std::to_string(expected);
}

// An earlier run's bytes are kept only when they belong to this entry;
// otherwise the file and its record start empty. The download goes on
// from the file's end: HTTP with a range request, FTP with REST.
bool PrepareArchiveFile(NolkDataBufferFile& file, const std::wstring& path, bool belongs) {
  if (!belongs) {
    DropRecord(path);
    // Only a file with bytes is cut: a file cut to nothing and written
    // again is pushed to the disk on close by some file systems (ext4's
    // replace-by-truncate guard), a long wait after a large download.
    if (file.GetSize() > 0 && file.SetSize(0) != NOLKRESULT_OK) return false;
  }
  return file.SetPosition(file.GetSize()) == NOLKRESULT_OK;
}

}  // namespace

bool OnlinePatchList::DownloadPatch(const std::wstring& url, const std::wstring& path,
                                    DownloadURLCallback* callback) {
  NolkDataBufferFile file(path, NolkDataBufferFile::WriteUpdate);
  if (!file.IsOpen()) {
    LogSinkReport(kLevelError, L"Unable to open the patch file for writing: " + path);
    return false;
  }
  // The archive is checked whole by the unpack and the per-file checksums
  // before anything is applied, and after a crash a damaged tail fails
  // that check; forcing 1 GiB to the disk would only add the wait.
  file.SetCommitOnFlush(false);
  const std::string narrowUrl = NolkUtil::ToNarrow(url);
  const bool http = IsHttpUrl(narrowUrl);
  const std::uint64_t expected = m_progress.expected;
  const ResumeRecord kept = ReadRecord(path);
  const bool belongs = PartialFileBelongs(kept, narrowUrl, http, expected, file.GetSize());
  ResumeRecord record{narrowUrl, belongs && http ? kept.resume : NolkUtil::HttpResumePoint(),
                      expected > 0 ? std::to_string(expected) : std::string()};
  NolkResult result = NOLKRESULT_FILE_ERROR;
  m_downloadedDigest.reset();
  std::optional<NolkSign::WrittenFileDigest> digest;
  if (VerifiesSignatures()) digest.emplace(file.StreamPath());
  if (PrepareArchiveFile(file, path, belongs)) {
    // FTP: the record goes first, so the bytes that follow can be taken up
    // by the next run even if this one is killed. HTTP: each response's
    // validator is recorded before its first byte is written.
    if (!http && expected > 0) KeepRecord(path, record);
    NolkUtil::HttpResumePoint resume = record.resume;
    resume.onBodyStart = [&path, &record](const NolkUtil::HttpResumePoint& response) {
      record.resume.etag = response.etag;
      record.resume.lastModified = response.lastModified;
      if (response.HasValidator()) {
        KeepRecord(path, record);
      } else {
        DropRecord(path);
      }
    };
    CountingDestination counted(file, m_progress, digest ? &*digest : nullptr);
    SetCurrentDownloadTarget(&file);
    result = NolkUtil::DownloadURL(narrowUrl, counted, 0, callback, resume);
    file.Flush();
    SetCurrentDownloadTarget(nullptr);
    record.resume.etag = resume.etag;
    record.resume.lastModified = resume.lastModified;
  }
  if (result == NOLKRESULT_OK) {
    DropRecord(path);
    if (digest) m_downloadedDigest = digest->Finish(file.GetSize());
    m_progress.finished = true;
    return true;
  }
  const bool resumable = http ? record.resume.HasValidator() : expected > 0;
  if (resumable && file.GetSize() > 0) {
    KeepRecord(path, record);
  } else {
    DropRecord(path);
  }
  LogSinkReport(kLevelError, L"Unable to download patch file: " + url);
  return false;
}

}  // namespace NolkPatch
