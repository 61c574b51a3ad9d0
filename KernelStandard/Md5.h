// MD5 message digest (RFC 1321): the checksum of the patch file lists and
// the build hash that identifies an installed build. Digests are written as
// 32 lower-case hexadecimal digits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace NolkUtil {

class Md5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  Md5() { Init(); }

  // Starts a new digest; the object can be reused after Final.
  void Init();
  // Adds bytes to the digest. Whole 64-byte blocks are compressed straight
  // from the caller's buffer; only a trailing partial block is copied.
  void Update(const void* data, std::size_t length);
  // Pads, finishes and returns the digest. Call Init before reusing.
  Digest Final();

 private:
  void CompressBlocks(const std::uint8_t* blocks, std::size_t count);

  std::array<std::uint32_t, 4> m_state{};
  std::uint64_t m_length = 0;  // bytes added so far
  std::array<std::uint8_t, 64> m_pending{};
  std::size_t m_pendingLength = 0;
};

// 32 lower-case hexadecimal digits of a digest.
std::string DigestToHex(const Md5::Digest& digest);

// Digest of a byte range, as hexadecimal text.
std::string Md5Hex(const void* data, std::size_t length);
inline std::string Md5Hex(std::string_view bytes) {
  return Md5Hex(bytes.data(), bytes.size());
}

// Digest of a whole file, read through the platform layer. On failure (the
// file cannot be opened or a read fails) returns false and leaves hex empty.
bool Md5OfFile(const std::wstring& path, std::string& hex);

}  // namespace NolkUtil
