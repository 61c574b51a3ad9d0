// The building blocks of the summary stream ("repair.cks" and the summary
// sent to the repair server) and of the names on the repair wire: integers
// are unsigned little-endian, a name is a 32-bit count of UTF-16 code units
// followed by the units in UTF-16LE, without terminator.
//
// Summary stream:
//   magic        4   0x66747330 (the bytes "0stf")
//   entry count  4
//   per entry, in ascending key order:
//     name       4 + 2n
//     checksum   4
//     time       8   seconds since 1970-01-01 UTC
#pragma once

#include <cstdint>
#include <string>

#include "stream/NolkDataBuffer.h"

namespace NolkUtil {

inline constexpr std::uint32_t kSummaryMagic = 0x66747330u;
// The longest name a reader accepts, in code units: room for the longest
// Windows path (32,767 units) with a segment index behind it. Longer counts
// only come from damaged or hostile input and are refused before anything is
// allocated for them.
inline constexpr std::uint32_t kMaxNameUnits = 65535;

void AppendLe32(std::uint32_t value, std::string& bytes);
void AppendLe64(std::uint64_t value, std::string& bytes);
std::uint32_t LoadLe32(const unsigned char* bytes);
std::uint64_t LoadLe64(const unsigned char* bytes);

// Appends a counted name.
void AppendCountedName(const std::wstring& name, std::string& bytes);
// Reads a counted name. The reads' first failing code, or
// NOLKRESULT_WRONG_FORMAT (10) when the count is above kMaxNameUnits.
NolkResult ReadCountedName(NolkDataBuffer& source, std::wstring& name);

// Collects small fields and writes them to a buffer in large blocks (a TCP
// buffer sends each write as a socket operation). Every block is written
// even after one failed; Finish() writes the rest and returns the first
// failing write's code.
class BlockWriter {
 public:
  explicit BlockWriter(NolkDataBuffer& destination);
  std::string& Bytes() { return m_pending; }
  // Writes the collected bytes once they fill a block.
  void WriteIfFull();
  NolkResult Finish();

 private:
  void WritePending();

  NolkDataBuffer& m_destination;
  std::string m_pending;
  NolkResult m_result = NOLKRESULT_OK;
};

}  // namespace NolkUtil
