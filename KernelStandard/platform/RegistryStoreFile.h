// File access of the registry store: reading, the writer lock, the
// permission test and the crash-safe replace (private to the platform layer,
// which may make its own system calls).
#pragma once

#include <string>

namespace OS::RegistryStoreFile {

// Whether something is at the path (a link counts, even a dangling one).
bool Exists(const std::string& path);
// Reads the whole file; a missing file gives true and empty content.
bool ReadAll(const std::string& path, std::string& content);
bool MayWrite(const std::string& path);
// Creates the store's folder and its missing parents.
bool EnsureFolder(const std::string& path);
// Writes content to a temporary file beside `path`, forces it to disk and
// renames it over `path`; on any failure the temporary file is removed and
// `path` is untouched.
bool ReplaceAtomically(const std::string& path, const std::string& content);

// Holds the exclusive writer lock of a store for its lifetime.
class WriterLock {
 public:
  explicit WriterLock(const std::string& storePath);
  ~WriterLock();
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

}  // namespace OS::RegistryStoreFile
