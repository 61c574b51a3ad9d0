// The SHA-256 of a file while it is being written, so that a downloaded
// archive is not read again after its download: the bytes written in order
// from offset 0 are hashed soon after they reach the file. A write at 0 or
// a cut to 0 starts again (a server that sends the whole body after all);
// a first write elsewhere (a resumed download), a gap or any other cut
// makes the digest unknown, and the caller hashes the file instead.
//
// The hashing runs on a thread of its own, at a low priority, which reads
// the written bytes back from the file, where they are still in the page
// cache, so that the hash overlaps the download instead of adding to it. The writer only says
// where it wrote: it copies nothing and never waits for the hash (on a
// machine with two cores, a copy of every received piece on the receiving
// thread cost more than the hash on the other one). Because the thread
// reads the file, the writer's buffered stream must be flushed before the
// thread may read a range: Written says when that is due (every
// kAnnounceBytes), and the writer then flushes and calls Flushed.
//
// What is hashed is what the file holds, read after it was written, not a
// copy of what passed on the way to it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "patch/signing/Sha256.h"

namespace NolkSign {

class WrittenFileDigest {
 public:
  static constexpr std::size_t kAnnounceBytes = 1u << 20;

  // `path` is the file being written; it is opened for reading when the
  // first range is ready.
  explicit WrittenFileDigest(std::wstring path);
  ~WrittenFileDigest();
  WrittenFileDigest(const WrittenFileDigest&) = delete;
  WrittenFileDigest& operator=(const WrittenFileDigest&) = delete;

  // `length` bytes were written at `position`. True when the writer should
  // now flush its stream and call Flushed.
  bool Written(std::uint64_t position, std::uint64_t length);
  void Resized(std::uint64_t size);
  // Everything written so far can be read from the file.
  void Flushed();
  // The digest when exactly the file's `fileSize` bytes were written in
  // order; the writer must have flushed them. Closes the file's reading
  // handle, so the file can then be moved or deleted.
  std::optional<Sha256Digest> Finish(std::uint64_t fileSize);

 private:
  // Bytes [begin, end) of the file for the hashing thread; `restart` starts
  // a new hash before them.
  struct Range {
    bool restart = false;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
  };
  void Restart();
  void HashRanges();
  void HashRange(const Range& range);
  void CloseFile();

  const std::wstring m_path;

  // The writer's side.
  std::uint64_t m_next = 0;       // bytes written in order from 0
  std::uint64_t m_announced = 0;  // of those, handed to the thread
  bool m_restartDue = false;      // the next range starts a new hash
  bool m_known = true;

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Range> m_ranges;  // waiting for the thread
  bool m_busy = false;         // the thread is hashing a range it took
  bool m_draining = false;     // Finish takes the waiting ranges itself
  bool m_stop = false;

  // The thread's, or anyone's while it is idle.
  std::unique_ptr<Sha256> m_hash;
  bool m_failed = false;  // a range could not be read in full
  std::FILE* m_file = nullptr;
  std::vector<std::uint8_t> m_buffer;
  std::thread m_thread;
};

}  // namespace NolkSign
