// The MD5 of one installed file, worked out ahead of the moment it is
// needed. The patched step hashes the next entry's file while the current
// entry's diff tool runs in its own process, so the hash costs no waiting.
//
// A kept digest is handed out once, only for the same path, and only while
// the file still has the size and modification time seen around the
// hashing; otherwise the file is hashed again at that moment. Failures are
// never kept: a file that cannot be hashed ahead is simply hashed again
// when it is needed, so every decision and message is made with a fresh
// look, exactly as without the look-ahead.
#pragma once

#include <cstdint>
#include <string>

namespace NolkPatch {

class PrecomputedDigest {
 public:
  // Hashes the file now and keeps the digest (replacing a kept one).
  void Compute(const std::wstring& path);
  // The file's digest as 32 lower-case hexadecimal digits: the kept one
  // when it still stands, else computed now. The kept digest is used up
  // either way. False when the file cannot be hashed.
  bool DigestOf(const std::wstring& path, std::string& digest);

 private:
  struct FileState {
    std::uint64_t size = 0;
    std::int64_t modifiedTime = 0;
    bool operator==(const FileState&) const = default;
  };
  static bool StateOf(const std::wstring& path, FileState& state);
  bool KeptDigestStands(const std::wstring& path) const;

  bool m_kept = false;
  std::wstring m_path;
  FileState m_state;
  std::string m_digest;
};

// Whether the file `next` may be hashed while the tool rebuilds `current`:
// the tool writes `current`, a temporary name beside it and reads its
// backup, all of which begin with `current`; a path that does not (ignoring
// ASCII case and the kind of separator) is not touched by it.
bool HashableWhileRebuilding(const std::wstring& next, const std::wstring& current);

}  // namespace NolkPatch
