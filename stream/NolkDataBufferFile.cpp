#include "stream/NolkDataBufferFile.h"

#include <algorithm>

#include "KernelStandard/Log.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

namespace {

std::wstring WithBackslashes(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// Stream functions take 8-bit paths: the path passes through the 8-bit form
// so characters outside it become '?' on every platform alike.
std::wstring AsStreamPath(const std::wstring& path) {
  return NolkUtil::ToWide(NolkUtil::ToNarrow(path));
}

}  // namespace

NolkDataBufferFile::NolkDataBufferFile(const std::wstring& path, AccessMode accessMode)
    : m_accessMode(accessMode), m_path(WithBackslashes(path)) {
  Open();
}

std::wstring NolkDataBufferFile::StreamPath() const {
  return AsStreamPath(m_path);
}

NolkDataBufferFile::~NolkDataBufferFile() {
  CloseStream();
}

void NolkDataBufferFile::Open() {
  bool opened = false;
  switch (m_accessMode) {
    case ReadOnly:
      opened = OpenReadOnly();
      break;
    case WriteNew:
      opened = OpenWriteNew();
      break;
    case WriteUpdate:
      opened = OpenWriteUpdate();
      break;
    case ReadWrite:
      opened = OpenReadWrite();
      break;
    default:
      LogPrintTo(LOG_STDOUT, "NolkDataBufferFile> unknown access mode %d", static_cast<int>(m_accessMode));
      return;
  }
  if (!opened) {
    CloseStream();
    return;
  }
  m_lastOperationWasRead = m_accessMode != WriteNew;
}

bool NolkDataBufferFile::OpenReadOnly() {
  m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::Read);
  return m_stream != nullptr && TakeLengthAsSize();
}

bool NolkDataBufferFile::OpenWriteNew() {
  m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::CreateTruncate);
  m_commitOnFlush = true;
  m_size = 0;
  return m_stream != nullptr;
}

bool NolkDataBufferFile::OpenWriteUpdate() {
  m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::ReadWrite);
  if (m_stream == nullptr) {
    m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::CreateTruncate);
  }
  m_commitOnFlush = true;
  return m_stream != nullptr && TakeLengthAsSize();
}

bool NolkDataBufferFile::OpenReadWrite() {
  m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::ReadWrite);
  m_commitOnFlush = true;
  return m_stream != nullptr && TakeLengthAsSize();
}

bool NolkDataBufferFile::TakeLengthAsSize() {
  std::uint64_t length = 0;
  if (!OS::Current().StreamLength(m_stream, length)) return false;
  m_size = length;
  return OS::Current().SeekStream(m_stream, 0);
}

void NolkDataBufferFile::CloseStream() {
  if (m_stream == nullptr) return;
  OS::Current().CloseStream(m_stream);
  m_stream = nullptr;
}

NolkResult NolkDataBufferFile::SetSize(std::uint64_t length) {
  if (m_stream == nullptr) return NOLKRESULT_NOT_OPEN;
  // Written bytes still in the stream's buffer must reach the file before
  // its length changes, or they would land after the cut later on.
  if (!m_lastOperationWasRead && !OS::Current().FlushStream(m_stream, false)) return NOLKRESULT_FILE_ERROR;
  if (!OS::Current().TruncateStream(m_stream, length)) return NOLKRESULT_FILE_ERROR;
  const NolkResult result = SetPosition(std::min(m_position, length));
  if (result != NOLKRESULT_OK) return result;
  m_size = length;
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferFile::SetPosition(std::uint64_t position) {
  if (m_stream == nullptr) return NOLKRESULT_NOT_OPEN;
  if (!OS::Current().SeekStream(m_stream, position)) return NOLKRESULT_FILE_ERROR;
  m_position = position;
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferFile::WriteData(const void* data, std::uint32_t length) {
  if (m_stream == nullptr) return NOLKRESULT_NOT_OPEN;
  if (m_accessMode == ReadOnly) return NOLKRESULT_NOT_ALLOWED;
  if (length == 0) return NOLKRESULT_OK;
  if (data == nullptr) return NOLKRESULT_BAD_ARGUMENT;
  const NolkResult prepared = PrepareDirection(false);
  if (prepared != NOLKRESULT_OK) return prepared;
  const std::size_t written = OS::Current().WriteStream(m_stream, data, length);
  m_position += written;
  m_size = std::max(m_size, m_position);
  return written == length ? NOLKRESULT_OK : NOLKRESULT_FILE_ERROR;
}

NolkResult NolkDataBufferFile::ReadData(void* data, std::uint32_t length) {
  if (m_stream == nullptr) return NOLKRESULT_NOT_OPEN;
  if (m_accessMode == WriteNew || m_accessMode == WriteUpdate) return NOLKRESULT_NOT_ALLOWED;
  if (length == 0) return NOLKRESULT_OK;
  if (data == nullptr) return NOLKRESULT_BAD_ARGUMENT;
  const NolkResult prepared = PrepareDirection(true);
  if (prepared != NOLKRESULT_OK) return prepared;
  const std::size_t read = OS::Current().ReadStream(m_stream, data, length);
  m_position += read;
  return read == length ? NOLKRESULT_OK : NOLKRESULT_FILE_ERROR;
}

NolkResult NolkDataBufferFile::PrepareDirection(bool reading) {
  if (m_accessMode == ReadWrite && m_lastOperationWasRead != reading) {
    const NolkResult result = Reopen();
    if (result != NOLKRESULT_OK) return result;
  }
  m_lastOperationWasRead = reading;
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferFile::Reopen() {
  CloseStream();
  m_stream = OS::Current().OpenStream(AsStreamPath(m_path), OS::OpenMode::ReadWrite);
  if (m_stream == nullptr) return NOLKRESULT_FILE_ERROR;
  if (!OS::Current().SeekStream(m_stream, m_position)) return NOLKRESULT_FILE_ERROR;
  return NOLKRESULT_OK;
}

void NolkDataBufferFile::Flush() {
  if (m_stream != nullptr) OS::Current().FlushStream(m_stream, m_commitOnFlush);
}
