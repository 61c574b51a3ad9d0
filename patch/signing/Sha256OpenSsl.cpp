// Sha256 over OpenSSL's libcrypto, which uses the processor's SHA
// instructions where there are any.
#include <openssl/evp.h>

#include "patch/signing/Sha256.h"

namespace NolkSign {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

// A context that cannot be made or started leaves every digest of this
// object as zeros, which match no archive: the check then fails safe.
Sha256::Sha256() : m_state(std::make_unique<State>()) {
  if (m_state->context != nullptr && EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(m_state->context);
    m_state->context = nullptr;
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t length) {
  if (m_state->context != nullptr) EVP_DigestUpdate(m_state->context, data, length);
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (m_state->context == nullptr || EVP_DigestFinal_ex(m_state->context, digest.data(), &length) != 1 ||
      length != digest.size())
    digest.fill(0);
  return digest;
}

}  // namespace NolkSign
