// Sha256 over libsodium, for builds without OpenSSL (the Windows build:
// Debian has no OpenSSL for mingw). Its portable code is slower than
// OpenSSL's, which uses the processor's SHA instructions.
#include <sodium.h>

#include "patch/signing/Sha256.h"

namespace NolkSign {

struct Sha256::State {
  crypto_hash_sha256_state state;
  bool ready = false;
};

// Without a working library every digest of this object is zeros, which
// match no archive: the check then fails safe.
Sha256::Sha256() : m_state(std::make_unique<State>()) {
  m_state->ready = SodiumReady() && crypto_hash_sha256_init(&m_state->state) == 0;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
  if (m_state->ready)
    crypto_hash_sha256_update(&m_state->state, static_cast<const unsigned char*>(data), length);
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  if (!m_state->ready || crypto_hash_sha256_final(&m_state->state, digest.data()) != 0) digest.fill(0);
  return digest;
}

}  // namespace NolkSign
