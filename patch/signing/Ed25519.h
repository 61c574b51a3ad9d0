// Ed25519 signatures through libsodium. Patch lists are signed with plain
// Ed25519 over their bytes; standalone patches, which can be large, with
// Ed25519ph (the message is hashed with SHA-512 while it is read). The two
// are domain separated by the algorithm itself, so a list signature can
// never pass for a package signature or the other way round.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "patch/signing/PublisherKeys.h"

namespace NolkSign {

inline constexpr std::size_t kSignatureSize = 64;
inline constexpr std::size_t kSeedSize = 32;
inline constexpr std::size_t kSecretKeySize = 64;
using Signature = std::array<std::uint8_t, kSignatureSize>;
using Seed = std::array<std::uint8_t, kSeedSize>;

// A signing key: libsodium's 64-byte secret key (seed and public key).
struct KeyPair {
  PublicKey publicKey{};
  std::array<std::uint8_t, kSecretKeySize> secretKey{};
  ~KeyPair();  // wipes the secret key
};

// Overwrites secret bytes so that no copy stays in memory.
void WipeSecret(void* data, std::size_t length);

// A fresh key pair from the system's random source.
bool GenerateKeyPair(KeyPair& pair, Seed& seed);
// The key pair a seed stands for (how secret key files store a key).
bool KeyPairFromSeed(const Seed& seed, KeyPair& pair);

Signature SignDetached(std::span<const std::uint8_t> message, const KeyPair& pair);
bool VerifyDetached(std::span<const std::uint8_t> message, const Signature& signature, const PublicKey& key);

// Ed25519ph over a message given in pieces.
class PrehashedMessage {
 public:
  PrehashedMessage();
  ~PrehashedMessage();
  PrehashedMessage(const PrehashedMessage&) = delete;
  PrehashedMessage& operator=(const PrehashedMessage&) = delete;

  void Update(const void* data, std::size_t length);
  // Either ends the object's use.
  Signature Sign(const KeyPair& pair);
  bool Verify(const Signature& signature, const PublicKey& key);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace NolkSign
