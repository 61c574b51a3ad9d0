#include "patch/PatchList.h"

#include <cctype>

#include "KernelStandard/FileUtil.h"
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "net/InternetClient.h"
#include "patch/PatchSettings.h"
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

bool AcceptRecord(const Record& record, const std::wstring& serverAddress, PatchMap& patches) {
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
  PatchListEntry entry{target, NolkUtil::ToWide(exeUrl), NolkUtil::ToWide(dataUrl)};
  if (!IsAbsoluteUrl(dataUrl)) {
    if (serverAddress.empty()) return false;
    entry.patchDataUrl = NolkUtil::JoinPath(serverAddress, entry.patchDataUrl);
  }
  patches[source] = std::move(entry);
  return true;
}

// A buffer that passes everything to the archive file and counts what
// arrives for the progress display.
class CountingDestination final : public NolkDataBuffer {
 public:
  CountingDestination(NolkDataBuffer& target, DownloadProgress& progress)
      : m_target(target), m_progress(progress) {}
  std::uint64_t GetSize() const override { return m_target.GetSize(); }
  NolkResult SetSize(std::uint64_t length) override { return Told(m_target.SetSize(length)); }
  std::uint64_t GetPosition() const override { return m_target.GetPosition(); }
  NolkResult SetPosition(std::uint64_t position) override { return Told(m_target.SetPosition(position)); }
  NolkResult WriteData(const void* data, std::uint32_t length) override {
    return Told(m_target.WriteData(data, length));
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
};

std::wstring ValidatorPath(const std::wstring& archivePath) {
  return archivePath + L".validator";
}

bool IsHttpUrl(const std::string& url) {
  return LowerCase(url.substr(0, 8)).rfind("http", 0) == 0;
}

}  // namespace

bool ParsePatchList(const std::string& text, const std::wstring& serverAddress, PatchMap& patches) {
  bool accepted = false;
  Record record;
  bool inRecord = false;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) {
      if (inRecord) accepted = AcceptRecord(record, serverAddress, patches) || accepted;
      record = Record();
      inRecord = false;
      continue;
    }
    inRecord = true;
    AddRecordLine(line, record);
  }
  if (inRecord) accepted = AcceptRecord(record, serverAddress, patches) || accepted;
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
    PatchMap patches;
    if (ParsePatchList(text, server, patches)) {
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

// "<etag>\n<last-modified>\n" of the resource a partial archive came from.
NolkUtil::HttpResumePoint ReadValidator(const std::wstring& archivePath) {
  NolkUtil::HttpResumePoint resume;
  NolkDataBufferFile file(ValidatorPath(archivePath), NolkDataBufferFile::ReadOnly);
  if (!file.IsOpen() || file.GetSize() == 0 || file.GetSize() > 4096) return resume;
  std::string text(file.GetSize(), '\0');
  if (file.ReadData(text.data(), static_cast<std::uint32_t>(text.size())) != NOLKRESULT_OK) return resume;
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) return resume;
  resume.etag = text.substr(0, end);
  const std::size_t second = text.find('\n', end + 1);
  if (second != std::string::npos) resume.lastModified = text.substr(end + 1, second - end - 1);
  return resume;
}

void KeepValidator(const std::wstring& archivePath, const NolkUtil::HttpResumePoint& resume) {
  NolkDataBufferFile file(ValidatorPath(archivePath), NolkDataBufferFile::WriteNew);
  const std::string text = resume.etag + "\n" + resume.lastModified + "\n";
  if (file.WriteData(text.data(), static_cast<std::uint32_t>(text.size())) == NOLKRESULT_OK) file.Flush();
}

void DropValidator(const std::wstring& archivePath) {
  if (NolkUtil::FileExists(ValidatorPath(archivePath))) NolkUtil::DeleteFile(ValidatorPath(archivePath));
}

// HTTP writes from the position: an earlier run's bytes are kept only with
// the validator they came with, otherwise the file starts empty. FTP goes
// on from the file's length by itself.
bool PrepareArchiveFile(NolkDataBufferFile& file, bool http, NolkUtil::HttpResumePoint& resume) {
  if (!http) return true;
  if (!resume.HasValidator() || file.GetSize() == 0) {
    resume = NolkUtil::HttpResumePoint();
    if (file.SetSize(0) != NOLKRESULT_OK) return false;
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
  const std::string narrowUrl = NolkUtil::ToNarrow(url);
  const bool http = IsHttpUrl(narrowUrl);
  NolkUtil::HttpResumePoint resume = ReadValidator(path);
  NolkResult result = NOLKRESULT_FILE_ERROR;
  if (PrepareArchiveFile(file, http, resume)) {
    CountingDestination counted(file, m_progress);
    SetCurrentDownloadTarget(&file);
    result = NolkUtil::DownloadURL(narrowUrl, counted, 0, callback, resume);
    file.Flush();
    SetCurrentDownloadTarget(nullptr);
  }
  if (result == NOLKRESULT_OK) {
    DropValidator(path);
    m_progress.finished = true;
    return true;
  }
  if (http && resume.HasValidator() && file.GetSize() > 0) {
    KeepValidator(path, resume);
  } else {
    DropValidator(path);
  }
  LogSinkReport(kLevelError, L"Unable to download patch file: " + url);
  return false;
}

}  // namespace NolkPatch
