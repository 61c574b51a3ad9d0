#include "patch/signing/Ed25519.h"

#include <sodium.h>

#include "patch/signing/Sha256.h"

namespace NolkSign {

static_assert(crypto_sign_PUBLICKEYBYTES == kPublicKeySize);
static_assert(crypto_sign_SECRETKEYBYTES == kSecretKeySize);
static_assert(crypto_sign_BYTES == kSignatureSize);
static_assert(crypto_sign_SEEDBYTES == kSeedSize);

void WipeSecret(void* data, std::size_t length) {
  sodium_memzero(data, length);
}

KeyPair::~KeyPair() {
  sodium_memzero(secretKey.data(), secretKey.size());
}

bool GenerateKeyPair(KeyPair& pair, Seed& seed) {
  if (!SodiumReady()) return false;
  randombytes_buf(seed.data(), seed.size());
  return KeyPairFromSeed(seed, pair);
}

bool KeyPairFromSeed(const Seed& seed, KeyPair& pair) {
  if (!SodiumReady()) return false;
  return crypto_sign_seed_keypair(pair.publicKey.data(), pair.secretKey.data(), seed.data()) == 0;
}

Signature SignDetached(std::span<const std::uint8_t> message, const KeyPair& pair) {
  SodiumReady();
  Signature signature{};
  crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), pair.secretKey.data());
  return signature;
}

bool VerifyDetached(std::span<const std::uint8_t> message, const Signature& signature, const PublicKey& key) {
  if (!SodiumReady()) return false;
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), key.data()) == 0;
}

struct PrehashedMessage::State {
  crypto_sign_state state;
};

PrehashedMessage::PrehashedMessage() : m_state(std::make_unique<State>()) {
  SodiumReady();
  crypto_sign_init(&m_state->state);
}

PrehashedMessage::~PrehashedMessage() = default;

void PrehashedMessage::Update(const void* data, std::size_t length) {
  crypto_sign_update(&m_state->state, static_cast<const unsigned char*>(data), length);
}

Signature PrehashedMessage::Sign(const KeyPair& pair) {
  Signature signature{};
  crypto_sign_final_create(&m_state->state, signature.data(), nullptr, pair.secretKey.data());
  return signature;
}

bool PrehashedMessage::Verify(const Signature& signature, const PublicKey& key) {
  Signature copy = signature;  // the call takes a non-const pointer
  return crypto_sign_final_verify(&m_state->state, copy.data(), key.data()) == 0;
}

}  // namespace NolkSign
