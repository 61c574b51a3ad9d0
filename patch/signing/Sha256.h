// SHA-256, in pieces or over a whole file. On Linux it comes from
// OpenSSL's libcrypto (already linked for HTTPS, Sha256OpenSsl.cpp), which
// uses the processor's SHA instructions where there are any: about
// 1.4 GB/s here, against about 0.2 GB/s for libsodium's portable code,
// which would make the checksum of a downloaded archive cost more than its
// download on a fast link. Builds without OpenSSL (Windows) take
// libsodium's (Sha256Sodium.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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
// Hashes the next `length` bytes of the stream, read through the platform
// layer into `buffer` (sized on first use to kStreamReadBytes); false when
// the stream ends or fails first.
inline constexpr std::size_t kStreamReadBytes = 1u << 20;
bool HashFromStream(Sha256& hash, std::FILE* stream, std::uint64_t length, std::vector<std::uint8_t>& buffer);
// Reads the file through the platform layer; false when it cannot be
// opened or read to its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest);

// libsodium's one-time start-up; safe to call from any thread, any number
// of times. False only when the library cannot work on this machine.
bool SodiumReady();

}  // namespace NolkSign
