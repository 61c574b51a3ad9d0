#include "KernelStandard/File.h"

#include <algorithm>
#include <cstring>

#include "KernelStandard/CompressedFile.h"
#include "KernelStandard/Exception.h"
#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"

namespace Vek {
namespace {

constexpr const char* kFileModule = "KernelStandard\\File";
constexpr std::uint64_t kUnknownOffset = ~std::uint64_t{0};

void AppendUtf16(char32_t code, std::vector<std::uint8_t>& out) {
  auto unit = [&out](std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  };
  if (code < 0x10000) {
    unit(code);
    return;
  }
  code -= 0x10000;
  unit(0xD800 + (code >> 10));
  unit(0xDC00 + (code & 0x3FF));
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

File::File() : m_buffer(kBufferSize) {}

File::~File() {
  Close();
}

bool File::IsCompressed() const {
  return m_access == Access::ReadCompressed || m_access == Access::WriteCompressed;
}

void File::ResetState() {
  m_fd = -1;
  m_access = Access::Closed;
  m_fill = 0;
  m_bufferStart = 0;
  m_position = 0;
  m_size = 0;
  m_physical = 0;
  m_writtenEnd = 0;
  m_physicalSize = 0;
  m_loadedChunk = 0;
  m_nextChunk = 0;
  m_chunkLoaded = false;
  m_failed = false;
  m_packed.clear();
}

bool File::Open(const std::wstring& path, unsigned flags) {
  bool read = (flags & FILE_OPEN_READ) != 0;
  bool write = (flags & FILE_OPEN_WRITE) != 0;
  if (IsOpen() || read == write) return false;
  ResetState();
  bool compressed = (flags & FILE_OPEN_COMPRESSED) != 0;
  m_encoding = (flags & FILE_OPEN_UTF16) ? FILE_ENCODING_UTF16 : FILE_ENCODING_8BIT;
  m_name = path;
  if (read) return OpenForReading(path, compressed);
  m_fd = OS::Current().OpenDescriptor(path, OS::OpenMode::CreateTruncate);
  if (m_fd < 0) return false;
  m_access = compressed ? Access::WriteCompressed : Access::Write;
  return true;
}

bool File::OpenForReading(const std::wstring& path, bool compressed) {
  OS::Platform& os = OS::Current();
  OS::FileInfo info;
  if (!os.Stat(path, info) || info.isDirectory) return false;
  m_fd = os.OpenDescriptor(path, OS::OpenMode::Read);
  if (m_fd < 0) return false;
  m_physicalSize = info.size;
  m_size = info.size;
  m_access = Access::Read;
  if (!compressed) return true;
  std::uint8_t header[kCompressedHeaderSize];
  long got = RawReadAt(0, header, sizeof header);
  std::uint32_t contentLength = 0;
  switch (ParseCompressedHeader(header, got > 0 ? static_cast<std::size_t>(got) : 0, contentLength)) {
    case CompressedHeaderKind::NotCompressed:
      return true;
    case CompressedHeaderKind::Valid:
      m_access = Access::ReadCompressed;
      m_size = contentLength;
      m_packed.resize(kChunkLengthMask);
      return true;
    case CompressedHeaderKind::UnknownVersion:
      break;
  }
  os.CloseDescriptor(m_fd);
  ResetState();
  return false;
}

bool File::Close() {
  if (!IsOpen()) return true;
  bool ok = true;
  if (IsWriting()) ok = Flush() && !m_failed;
  OS::Current().CloseDescriptor(m_fd);
  bool compress = m_access == Access::WriteCompressed;
  std::uint64_t plainLength = m_size;
  std::wstring name = m_name;
  ResetState();
  if (compress && ok) ok = CompressFileInPlace(name, plainLength);
  return ok;
}

// --- Writing -----------------------------------------------------------------

void File::RequireWritable(int line) const {
  if (!IsOpen()) throw FileEx("Write() File not open", kFileModule, line);
  if (!IsWriting()) throw FileEx("Write() File not open for writing", kFileModule, line);
}

std::size_t File::Write(const void* data, std::size_t length) {
  RequireWritable(__LINE__);
  if (length == 0) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (length >= kBufferSize || m_fill == kBufferSize) return WriteDirect(bytes, length);
  return WriteBuffered(bytes, length);
}

std::size_t File::WriteText(const std::string& text) {
  if (text.empty()) return 0;
  if (m_encoding != FILE_ENCODING_UTF16) return Write(text.data(), text.size());
  std::vector<std::uint8_t> units;
  units.reserve(text.size() * 2);
  for (wchar_t code : NolkUtil::ToWide(text)) AppendUtf16(static_cast<char32_t>(code), units);
  return Write(units.data(), units.size());
}

std::size_t File::WriteBuffered(const std::uint8_t* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    std::size_t take = std::min(kBufferSize - m_fill, length - done);
    std::memcpy(m_buffer.data() + m_fill, data + done, take);
    m_fill += take;
    m_position += take;
    done += take;
    m_size = std::max(m_size, m_position);
    if (m_fill == kBufferSize && !Flush()) return 0;
  }
  return length;
}

std::size_t File::WriteDirect(const std::uint8_t* data, std::size_t length) {
  if (!Flush() || !SeekPhysical(m_position)) {
    m_failed = true;
    return 0;
  }
  std::size_t written = WriteToDescriptor(data, length);
  if (written < length) {
    m_size = 0;
    m_failed = true;
    return 0;
  }
  m_position += length;
  m_size = std::max(m_size, m_position);
  return length;
}

bool File::Flush() {
  if (m_fill == 0) return true;
  std::size_t pending = m_fill;
  m_fill = 0;
  std::size_t written = SeekPhysical(m_position - pending) ? WriteToDescriptor(m_buffer.data(), pending) : 0;
  if (written == pending) return true;
  m_position -= pending - written;
  m_size = std::max(m_writtenEnd, m_position);
  m_failed = true;
  return false;
}

bool File::SeekPhysical(std::uint64_t position) {
  if (m_physical == position) return true;
  if (!OS::Current().SeekDescriptor(m_fd, position)) {
    m_physical = kUnknownOffset;
    return false;
  }
  m_physical = position;
  return true;
}

// Writes at the descriptor's offset, continuing after partial writes.
std::size_t File::WriteToDescriptor(const std::uint8_t* data, std::size_t length) {
  std::uint64_t start = m_physical;
  std::size_t done = 0;
  while (done < length) {
    long put = OS::Current().WriteDescriptor(m_fd, data + done, length - done);
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  m_writtenEnd = std::max(m_writtenEnd, start + done);
  m_physical = done < length ? kUnknownOffset : start + done;
  return done;
}

// --- Seeking -----------------------------------------------------------------

std::int64_t File::Seek(std::uint64_t position) {
  if (m_access == Access::WriteCompressed) {
    throw FileEx("Seek() Can't seek writing compressed file", kFileModule, __LINE__);
  }
  if (!IsOpen() || position > static_cast<std::uint64_t>(INT64_MAX)) return -1;
  if (IsWriting()) {
    if (!Flush()) return -1;
    m_position = position;
    return static_cast<std::int64_t>(position);
  }
  if (m_failed) return -1;
  m_position = position;
  if (m_access == Access::ReadCompressed && position < m_size && !BufferHolds(position) &&
      !LoadChunkFor(position)) {
    return -1;
  }
  return static_cast<std::int64_t>(position);
}

// --- Reading -----------------------------------------------------------------

bool File::BufferHolds(std::uint64_t position) const {
  return position >= m_bufferStart && position - m_bufferStart < m_fill;
}

std::int64_t File::Read(void* data, std::size_t length) {
  if (!IsReading() || m_failed) return -1;
  auto* out = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < length && m_position < m_size) {
    if (!BufferHolds(m_position)) {
      if (m_access == Access::Read && length - done >= kBufferSize) {
        std::int64_t got = ReadPlainDirect(out + done, length - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        continue;
      }
      bool loaded =
          m_access == Access::ReadCompressed ? LoadChunkFor(m_position) : FillPlainBuffer(m_position);
      if (!loaded) return m_failed ? -1 : static_cast<std::int64_t>(done);
    }
    std::size_t offset = static_cast<std::size_t>(m_position - m_bufferStart);
    std::size_t take = std::min(length - done, m_fill - offset);
    std::memcpy(out + done, m_buffer.data() + offset, take);
    done += take;
    m_position += take;
  }
  return static_cast<std::int64_t>(done);
}

long File::RawReadAt(std::uint64_t offset, void* data, std::size_t length) {
  OS::Platform& os = OS::Current();
  if (m_guard) m_guard->BeforeRawRead();
  long total = -1;
  if (os.SeekDescriptor(m_fd, offset)) {
    total = 0;
    auto* out = static_cast<std::uint8_t*>(data);
    while (static_cast<std::size_t>(total) < length) {
      long got = os.ReadDescriptor(m_fd, out + total, length - static_cast<std::size_t>(total));
      if (got < 0 && total == 0) total = -1;
      if (got <= 0) break;
      total += got;
    }
  }
  if (m_guard) m_guard->AfterRawRead();
  return total;
}

bool File::RawReadExactly(std::uint64_t offset, void* data, std::size_t length) {
  return RawReadAt(offset, data, length) == static_cast<long>(length);
}

// A plain file that ends before its size at opening simply ends there.
std::int64_t File::ReadPlainDirect(std::uint8_t* data, std::size_t length) {
  std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size - m_position));
  long got = RawReadAt(m_position, data, wanted);
  if (got < 0) return -1;
  if (static_cast<std::size_t>(got) < wanted) m_size = m_position + static_cast<std::uint64_t>(got);
  m_position += static_cast<std::uint64_t>(got);
  return got;
}

bool File::FillPlainBuffer(std::uint64_t position) {
  std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, m_size - position));
  long got = RawReadAt(position, m_buffer.data(), wanted);
  m_bufferStart = position;
  m_fill = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got < 0) m_failed = true;
  if (got >= 0 && static_cast<std::size_t>(got) < wanted) m_size = position + m_fill;
  return m_fill > 0;
}

bool File::MarkDamaged() {
  m_size = 0;
  m_fill = 0;
  m_chunkLoaded = false;
  m_failed = true;
  return false;
}

bool File::ReadChunkHeader(std::uint64_t offset, std::uint16_t& header) {
  std::uint8_t bytes[kChunkHeaderSize];
  if (offset + kChunkHeaderSize > m_physicalSize || !RawReadExactly(offset, bytes, sizeof bytes))
    return false;
  header = ReadLittleEndian16(bytes);
  return true;
}

// Steps over chunk `index` at `offset` without reading its bytes.
bool File::SkipChunk(std::uint64_t index, std::uint64_t& offset) {
  std::uint16_t header = 0;
  if (!ReadChunkHeader(offset, header)) return false;
  std::size_t length = header & kChunkLengthMask;
  if ((header & kChunkStoredFlag) && length != ChunkContentLength(m_size, index)) return false;
  offset += kChunkHeaderSize + length;
  return offset <= m_physicalSize;
}

bool File::ExpandChunkAt(std::uint64_t index, std::uint64_t offset) {
  std::uint16_t header = 0;
  if (!ReadChunkHeader(offset, header)) return false;
  std::size_t length = header & kChunkLengthMask;
  std::uint64_t body = offset + kChunkHeaderSize;
  if (body + length > m_physicalSize || !RawReadExactly(body, m_packed.data(), length)) return false;
  std::size_t content = ChunkContentLength(m_size, index);
  if (!ExpandChunk(header, m_packed.data(), m_buffer.data(), content)) return false;
  m_bufferStart = index * kCompressedChunkSize;
  m_fill = content;
  m_loadedChunk = index;
  m_nextChunk = body + length;
  m_chunkLoaded = true;
  return true;
}

bool File::LoadChunkFor(std::uint64_t position) {
  std::uint64_t target = position / kCompressedChunkSize;
  std::uint64_t index = 0;
  std::uint64_t offset = kCompressedHeaderSize;
  if (m_chunkLoaded && target > m_loadedChunk) {
    index = m_loadedChunk + 1;
    offset = m_nextChunk;
  }
  m_fill = 0;
  m_chunkLoaded = false;
  for (; index < target; ++index) {
    if (!SkipChunk(index, offset)) return MarkDamaged();
  }
  if (!ExpandChunkAt(target, offset)) return MarkDamaged();
  return true;
}

}  // namespace Vek
