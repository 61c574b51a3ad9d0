#include "KernelStandard/CompressedFile.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "KernelStandard/BytePairCodec.h"
#include "KernelStandard/platform/Platform.h"

namespace Vek {
namespace {

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void AppendLittleEndian32(std::uint32_t value, std::vector<std::uint8_t>& out) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendLittleEndian16(std::uint16_t value, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

bool ReadFully(int fd, std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    long got = OS::Current().ReadDescriptor(fd, data, length);
    if (got <= 0) return false;
    data += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteFully(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    long put = OS::Current().WriteDescriptor(fd, data, length);
    if (put <= 0) return false;
    data += put;
    length -= static_cast<std::size_t>(put);
  }
  return true;
}

bool WriteCompressedForm(int source, int target, std::uint32_t length) {
  std::vector<std::uint8_t> out;
  AppendCompressedHeader(length, out);
  std::vector<std::uint8_t> chunk(kCompressedChunkSize);
  for (std::uint64_t index = 0;; ++index) {
    std::size_t content = ChunkContentLength(length, index);
    if (content == 0) break;
    if (!ReadFully(source, chunk.data(), content)) return false;
    AppendChunk(chunk.data(), content, out);
    if (!WriteFully(target, out.data(), out.size())) return false;
    out.clear();
  }
  return WriteFully(target, out.data(), out.size());
}

std::wstring TempPathInCurrentFolder() {
  std::wstring folder = OS::Current().GetCurrentDirectory();
  if (!folder.empty() && folder.back() != L'/' && folder.back() != L'\\') folder += L'/';
  return folder + NextCompressionTempName();
}

// The temporary file may lie on another volume than the target, where a
// plain move fails; the content is then copied so it is not stranded.
bool PutTempInPlace(const std::wstring& temp, const std::wstring& path) {
  OS::Platform& os = OS::Current();
  if (!os.DeleteFile(path)) {
    os.DeleteFile(temp);
    return false;
  }
  if (!os.MoveFile(temp, path)) {
    if (!os.CopyFile(temp, path, false)) return false;
    os.DeleteFile(temp);
  }
  os.SetReadOnlyFlag(path, false);
  return true;
}

}  // namespace

CompressedHeaderKind ParseCompressedHeader(const std::uint8_t* bytes, std::size_t size,
                                           std::uint32_t& contentLength) {
  contentLength = 0;
  if (size < kCompressedHeaderSize || std::memcmp(bytes, kCompressedMagic, 4) != 0) {
    return CompressedHeaderKind::NotCompressed;
  }
  if (ReadLittleEndian32(bytes + 4) != kCompressedVersion) return CompressedHeaderKind::UnknownVersion;
  contentLength = ReadLittleEndian32(bytes + 8);
  return CompressedHeaderKind::Valid;
}

void AppendCompressedHeader(std::uint32_t contentLength, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), std::begin(kCompressedMagic), std::end(kCompressedMagic));
  AppendLittleEndian32(kCompressedVersion, out);
  AppendLittleEndian32(contentLength, out);
}

std::size_t ChunkContentLength(std::uint64_t contentLength, std::uint64_t index) {
  std::uint64_t start = index * kCompressedChunkSize;
  if (start >= contentLength) return 0;
  std::uint64_t rest = contentLength - start;
  return rest < kCompressedChunkSize ? static_cast<std::size_t>(rest) : kCompressedChunkSize;
}

void AppendChunk(const std::uint8_t* content, std::size_t n, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> packed;
  BytePairEncode(content, n, packed);
  if (packed.size() < n) {
    AppendLittleEndian16(static_cast<std::uint16_t>(packed.size()), out);
    out.insert(out.end(), packed.begin(), packed.end());
  } else {
    AppendLittleEndian16(static_cast<std::uint16_t>(kChunkStoredFlag | n), out);
    out.insert(out.end(), content, content + n);
  }
}

bool ExpandChunk(std::uint16_t header, const std::uint8_t* body, std::uint8_t* out,
                 std::size_t contentLength) {
  std::size_t bodyLength = header & kChunkLengthMask;
  if (header & kChunkStoredFlag) {
    if (bodyLength != contentLength) return false;
    std::memcpy(out, body, bodyLength);
    return true;
  }
  std::size_t produced = 0;
  return BytePairDecode(body, bodyLength, out, contentLength, produced);
}

std::wstring NextCompressionTempName() {
  static std::atomic<std::uint32_t> counter{0};
  char name[32];
  std::snprintf(name, sizeof name, "%08X.T%08X", static_cast<unsigned>(OS::Current().ProcessId()),
                static_cast<unsigned>(counter++));
  return std::wstring(name, name + std::strlen(name));
}

bool CompressFileInPlace(const std::wstring& path, std::uint64_t length) {
  if (length > 0xFFFFFFFFu) return false;  // the header holds a 32-bit length
  OS::Platform& os = OS::Current();
  int source = os.OpenDescriptor(path, OS::OpenMode::Read);
  if (source < 0) return false;
  std::wstring temp = TempPathInCurrentFolder();
  int target = os.OpenDescriptor(temp, OS::OpenMode::CreateTruncate);
  if (target < 0) {
    os.CloseDescriptor(source);
    return false;
  }
  bool written = WriteCompressedForm(source, target, static_cast<std::uint32_t>(length));
  os.CloseDescriptor(source);
  os.CloseDescriptor(target);
  if (!written) {
    os.DeleteFile(temp);
    return false;
  }
  return PutTempInPlace(temp, path);
}

}  // namespace Vek
