#include "patch/signing/Sha256.h"

#include <sodium.h>

#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace NolkSign {

struct Sha256::State {
  crypto_hash_sha256_state state;
};

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

Sha256::Sha256() : m_state(std::make_unique<State>()) {
  SodiumReady();
  crypto_hash_sha256_init(&m_state->state);
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
  crypto_hash_sha256_update(&m_state->state, static_cast<const unsigned char*>(data), length);
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  crypto_hash_sha256_final(&m_state->state, digest.data());
  return digest;
}

void WrittenFileDigest::Restart() {
  m_hash = std::make_unique<Sha256>();
  m_next = 0;
  m_known = true;
}

void WrittenFileDigest::Written(std::uint64_t position, const void* data, std::size_t length) {
  if (position == 0) Restart();
  if (!m_known) return;
  if (position != m_next) {
    m_known = false;
    return;
  }
  m_hash->Update(data, length);
  m_next += length;
}

void WrittenFileDigest::Resized(std::uint64_t size) {
  if (size == 0) {
    Restart();
  } else if (size < m_next) {
    m_known = false;
  }
}

std::optional<Sha256Digest> WrittenFileDigest::Finish(std::uint64_t fileSize) {
  if (!m_known || m_next != fileSize) return std::nullopt;
  m_known = false;
  return m_hash->Finish();
}

Sha256Digest Sha256Of(const void* data, std::size_t length) {
  Sha256 hash;
  hash.Update(data, length);
  return hash.Finish();
}

bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  std::uint64_t length = 0;
  bool ok = os.StreamLength(stream, length);
  Sha256 hash;
  std::vector<std::uint8_t> buffer(1 << 20);
  while (ok && length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    const std::size_t got = os.ReadStream(stream, buffer.data(), want);
    if (got != want) ok = false;
    hash.Update(buffer.data(), got);
    length -= got;
  }
  os.CloseStream(stream);
  if (ok) digest = hash.Finish();
  return ok;
}

}  // namespace NolkSign
