// SHA-256 (libsodium's), in pieces or over a whole file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "patch/signing/Hex.h"

namespace NolkSign {

inline constexpr std::size_t kSha256Size = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Size>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t length);
  // The digest of everything given; the object must not be used afterwards.
  Sha256Digest Finish();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

Sha256Digest Sha256Of(const void* data, std::size_t length);
// Reads the file through the platform layer; false when it cannot be
// opened or read to its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest);

// libsodium's one-time start-up; safe to call from any thread, any number
// of times. False only when the library cannot work on this machine.
bool SodiumReady();

}  // namespace NolkSign
