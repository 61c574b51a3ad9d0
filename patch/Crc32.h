// The reflected CRC-32 of the uninstaller log (polynomial 0xEDB88320, start
// value 0xFFFFFFFF, result complemented), the same checksum the game's
// installer writes into its log header and block headers.
//
// The 256-entry lookup table is built once, on first use, and is safe to
// reach from several threads at the same time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NolkPatch {

class Crc32 {
 public:
  // Feeds more bytes; the checksum of all bytes fed so far is Value().
  void Update(const void* data, std::size_t length);
  std::uint32_t Value() const { return ~m_state; }

  // The checksum of one block of bytes.
  static std::uint32_t Of(const void* data, std::size_t length);

 private:
  std::uint32_t m_state = 0xFFFFFFFFu;
};

}  // namespace NolkPatch
