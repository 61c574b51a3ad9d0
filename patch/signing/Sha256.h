// SHA-256 (libsodium's), in pieces or over a whole file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
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

// The SHA-256 of a file while it is being written, so that a downloaded
// archive need not be read again: bytes written in order from offset 0 are
// hashed as they pass. A write at 0 or a cut to 0 starts again (a server
// that sends the whole body after all); a first write elsewhere (a resumed
// download), a gap or any other cut makes the digest unknown, and the
// caller hashes the file instead.
class WrittenFileDigest {
 public:
  void Written(std::uint64_t position, const void* data, std::size_t length);
  void Resized(std::uint64_t size);
  // The digest when exactly the file's `fileSize` bytes passed in order.
  std::optional<Sha256Digest> Finish(std::uint64_t fileSize);

 private:
  void Restart();

  std::unique_ptr<Sha256> m_hash = std::make_unique<Sha256>();
  std::uint64_t m_next = 0;
  bool m_known = true;
};

Sha256Digest Sha256Of(const void* data, std::size_t length);
// Reads the file through the platform layer; false when it cannot be
// opened or read to its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest);

// libsodium's one-time start-up; safe to call from any thread, any number
// of times. False only when the library cannot work on this machine.
bool SodiumReady();

}  // namespace NolkSign
