// SHA-256, in pieces or over a whole file. On Linux it comes from
// OpenSSL's libcrypto (already linked for HTTPS, Sha256OpenSsl.cpp), which
// uses the processor's SHA instructions where there are any: about
// 1.4 GB/s here, against about 0.2 GB/s for libsodium's portable code,
// which would make the checksum of a downloaded archive cost more than its
// download on a fast link. Builds without OpenSSL (Windows) take
// libsodium's (Sha256Sodium.cpp).
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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

// The SHA-256 of a file while it is being written, so that a downloaded
// archive need not be read again: bytes written in order from offset 0 are
// hashed as they pass. A write at 0 or a cut to 0 starts again (a server
// that sends the whole body after all); a first write elsewhere (a resumed
// download), a gap or any other cut makes the digest unknown, and the
// caller hashes the file instead.
//
// The hashing runs on a thread of its own so that it overlaps the download
// instead of adding to it. Written bytes are copied into a small pool of
// reused 1 MiB blocks and the thread is woken once per full block, not
// once per network read: a fresh buffer for every read cost more (page
// faults and wake-ups) than the hash itself. When every block waits for the
// thread (kMaxQueuedBytes), a write waits for the hash.
class WrittenFileDigest {
 public:
  static constexpr std::size_t kBlockBytes = 1u << 20;
  static constexpr std::size_t kBlockCount = 16;
  static constexpr std::size_t kMaxQueuedBytes = kBlockBytes * kBlockCount;

  WrittenFileDigest();
  ~WrittenFileDigest();
  WrittenFileDigest(const WrittenFileDigest&) = delete;
  WrittenFileDigest& operator=(const WrittenFileDigest&) = delete;

  void Written(std::uint64_t position, const void* data, std::size_t length);
  void Resized(std::uint64_t size);
  // The digest when exactly the file's `fileSize` bytes passed in order.
  std::optional<Sha256Digest> Finish(std::uint64_t fileSize);

 private:
  // Bytes for the hashing thread; `restart` starts a new hash before them.
  struct Block {
    bool restart = false;
    std::size_t used = 0;
    std::unique_ptr<std::uint8_t[]> bytes = std::make_unique<std::uint8_t[]>(kBlockBytes);
  };
  void Restart();
  Block& FillingBlock();
  void HandOver();
  void HashBlocks();

  std::uint64_t m_next = 0;
  bool m_known = true;
  std::unique_ptr<Block> m_filling;  // the writer's, not yet handed over

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<std::unique_ptr<Block>> m_full;  // waiting for the thread
  std::vector<std::unique_ptr<Block>> m_free;
  std::size_t m_blocksMade = 0;
  bool m_busy = false;  // the thread is hashing a block it took
  bool m_stop = false;
  std::unique_ptr<Sha256> m_hash;  // used by the thread only, until it is idle
  std::thread m_thread;
};

Sha256Digest Sha256Of(const void* data, std::size_t length);
// Reads the file through the platform layer; false when it cannot be
// opened or read to its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest);

// libsodium's one-time start-up; safe to call from any thread, any number
// of times. False only when the library cannot work on this machine.
bool SodiumReady();

}  // namespace NolkSign
