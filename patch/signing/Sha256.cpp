#include "patch/signing/Sha256.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace NolkSign {

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

Sha256Digest Sha256Of(const void* data, std::size_t length) {
  Sha256 hash;
  hash.Update(data, length);
  return hash.Finish();
}

bool HashFromStream(Sha256& hash, std::FILE* stream, std::uint64_t length,
                    std::vector<std::uint8_t>& buffer) {
  OS::Platform& os = OS::Current();
  if (buffer.empty()) buffer.resize(kStreamReadBytes);
  while (length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    if (os.ReadStream(stream, buffer.data(), want) != want) return false;
    hash.Update(buffer.data(), want);
    length -= want;
  }
  return true;
}

bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  std::uint64_t length = 0;
  Sha256 hash;
  std::vector<std::uint8_t> buffer;
  const bool ok = os.StreamLength(stream, length) && HashFromStream(hash, stream, length, buffer);
  os.CloseStream(stream);
  if (ok) digest = hash.Finish();
  return ok;
}

}  // namespace NolkSign
