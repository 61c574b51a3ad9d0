// Byte-pair encoding, the chunk codec of the compressed file format.
//
// The encoded form is a sequence of blocks. Each block is
//   - a packed pair table for the codes 0..255: a count byte c; when c > 127
//     the next c - 127 codes are literals and are skipped, after which one
//     entry follows directly (unless the skip reached code 256); otherwise
//     c + 1 entries follow. An entry is the code's left byte and, when the
//     left byte differs from the code itself, its right byte. A code whose
//     left byte is itself is a literal; any other code stands for its pair.
//   - the length of the block's data, 2 bytes, big-endian;
//   - the data: codes, each expanding recursively into its pair.
//
// Encoder limits (chosen so one block usually covers a whole 16,384-byte
// file chunk while the 4096-entry pair hash table stays sparse):
//   - a block holds at most kBytePairBlockSize input bytes, and is cut early
//     when it would hold more than kBytePairMaxLiterals distinct byte values
//     (so that codes stay free for pairs) or more than kBytePairMaxReadPairs
//     distinct adjacent pairs;
//   - a pair is replaced only when it occurs at least three times without
//     overlapping; replacing stops when no code is free, no pair qualifies,
//     or the pair table would grow past kBytePairMaxWorkingPairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vek {

inline constexpr std::size_t kBytePairBlockSize = 16384;
inline constexpr std::size_t kBytePairHashSize = 4096;
inline constexpr int kBytePairMaxLiterals = 224;
inline constexpr std::size_t kBytePairMaxReadPairs = 2048;
inline constexpr std::size_t kBytePairMaxWorkingPairs = 3072;
inline constexpr int kBytePairMinOccurrences = 3;

// Appends the encoding of in[0..n) to out. An empty input appends nothing.
void BytePairEncode(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out);

// Decodes in[0..n) into out, which has room for exactly `expected` bytes.
// Returns true only when the input is well formed and expands to exactly
// `expected` bytes. Malformed input (a truncated table or data length, a
// skip past code 255, a data length past the end of the input, an expansion
// longer than `expected`, a pair chain deeper than any real table can make)
// gives false; nothing is ever read or written outside the two buffers.
// `produced` tells how many bytes were written to out.
bool BytePairDecode(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t expected,
                    std::size_t& produced);

}  // namespace Vek
