// The binary diff format of the publisher tools ("vpatchl-w32.exe", the
// archive builder and the converter stand-in): the new file compressed by
// zstd with the old file as referenced prefix ("patch-from" mode), behind a
// small header that ties the diff to the exact old file it was made from.
// The header travels in a zstd skippable frame, so the standard zstd tool
// decodes our diffs (`zstd -d --patch-from=OLD DIFF`), and a plain
// patch-from frame made by the zstd tool is accepted as a diff too.
//
// Layout, all integers little-endian:
//   offset  size  field
//        0     4  skippable frame magic 0x184D2A5B
//        4     4  skippable frame length (32)
//        8     4  magic "KVD1"                      } DiffHeader
//       12     2  format version (1)                }
//       14     2  flags (0; any other value is      }
//                 refused)                          }
//       16     8  old file length                   }
//       24     8  hash of the old file              }
//                 (OldFileHash.h)                   }
//       32     8  new file length                   }
//       40     -  exactly one zstd frame: the new file, with its content
//                 size and a content checksum, compressed with long-distance
//                 matching and a window covering old file + new file
//
// Diffs of earlier builders start directly with the 32-byte header (no
// skippable frame); they are read the same. A plain frame (starting with
// zstd's frame magic) has no header: its old file cannot be checked before
// decoding, so the caller's checksum of the result is the only check; its
// content size must be stated in the frame.
//
// A diff with a header applies only to the old file it was made from: a
// different length or hash gives WrongOldFile before any decoding.
// Everything else that does not fit (bad magic, truncation, trailing bytes,
// a frame whose content size disagrees with the header, a window larger
// than the two files need, a missing or failed content checksum) gives
// Corrupt, as does a new file too large for the memory at hand. Declared
// lengths are checked against what the frame's bytes can possibly produce
// before any buffer is allocated, so a tiny hostile diff cannot ask for a
// huge allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "tools/diff/ByteBuffer.h"
#include "tools/diff/OldFileHash.h"

namespace KorvelTools {

using ByteSpan = std::span<const std::uint8_t>;

// OutputFailed comes only from ApplyDiffToSink: the sink refused a block.
enum class DiffResult { Ok, Corrupt, WrongOldFile, OutputFailed };

struct DiffOptions {
  // zstd compression level (1 to 22). The default was chosen with
  // bench/bench_diff: on 64 MiB of shared libraries with a few hundred edits
  // level 12 makes diffs about 13% smaller than xdelta3's at about 10 MiB/s;
  // levels 13 and up (binary-tree search over the large window) take 15 to
  // 35 times longer for at most 4% less, and levels below 9 lose to xdelta3.
  // Applying takes about as long at every level.
  int level = 12;
  // Long-distance matching finds the old file's content far back in the
  // window, which is what makes a diff of a shifted file small.
  bool longDistanceMatching = true;
  // 0 chooses DiffWindowLog(old, new); a larger value is clamped to it, so
  // that every diff stays within what ApplyDiff accepts.
  int windowLog = 0;
  // Long-distance matcher tuning (zstd's ZSTD_c_ldm* parameters); 0 leaves
  // each to zstd's choice for the level and window.
  int ldmHashLog = 0;
  int ldmMinMatch = 0;
  int ldmBucketSizeLog = 0;
  int ldmHashRateLog = 0;
};

// The header's own size, and the bytes before the zstd frame in a diff this
// builder writes (the skippable frame around the header).
inline constexpr std::size_t kLegacyHeaderSize = 32;
inline constexpr std::size_t kDiffHeaderSize = 40;

struct DiffHeader {
  std::uint64_t oldLength = 0;
  std::uint64_t oldHash = 0;
  std::uint64_t newLength = 0;
};

// The diff that turns oldData into newData. Empty only when zstd cannot
// make it (out of memory, an invalid level); a real diff is never empty
// because it always starts with the header.
std::vector<std::uint8_t> CreateDiff(ByteSpan oldData, ByteSpan newData, const DiffOptions& options = {});

// Rebuilds the new file from the old file and a diff. newData is cleared
// first and holds the new file only when the result is Ok.
DiffResult ApplyDiff(ByteSpan oldData, ByteSpan diff, std::vector<std::uint8_t>& newData);
// The same for callers that hashed the old file while reading it
// (OldFileHasher), into a buffer that is not zeroed before decoding.
DiffResult ApplyDiff(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, UninitializedBytes& newData);

// Receives the new file in order, one block at a time; false stops the
// decoding.
using DiffSink = std::function<bool(ByteSpan block)>;

// The same checks as ApplyDiff, but the new file is decoded in blocks of a
// fixed size and handed to the sink as it is produced, so no buffer of the
// whole new file is needed. The sink may have been given blocks when the
// result is not Ok (a failed content checksum is known only at the end), so
// it must write somewhere the caller can throw away. oldData must stay in
// memory until the call returns.
DiffResult ApplyDiffToSink(ByteSpan oldData, std::uint64_t oldHash, ByteSpan diff, const DiffSink& sink);

// Reads the header at the start of a diff (in its skippable frame or bare);
// false when it is too short, not a diff of this format and version, or a
// plain frame without header.
bool ReadDiffHeader(ByteSpan diff, DiffHeader& header);

// The window (log2) of a diff between files of these lengths, and the
// largest one ApplyDiff accepts for them: large enough that every byte of
// the new file can reach back to the first byte of the old file, clamped to
// zstd's limits (files together beyond 2 GiB still diff correctly, only
// matches further back than the largest window are not used).
int DiffWindowLog(std::uint64_t oldLength, std::uint64_t newLength);

}  // namespace KorvelTools
