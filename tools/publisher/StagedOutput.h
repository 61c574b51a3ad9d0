// An output file that appears only when it is complete: it is written under
// a temporary name beside its final path and moved into place by Commit. If
// the writer gives up (or throws), the destructor removes the temporary
// file, so a failed run leaves no output behind and an older file at the
// final path stays as it was. The temporary file is also registered for
// removal should the program be interrupted or terminated while it exists
// (KernelStandard/platform/TerminationCleanup.h; the publisher programs
// install that cleanup at start).
#pragma once

#include <cstdint>
#include <string>

namespace KorvelTools {

class StagedOutput {
 public:
  explicit StagedOutput(std::wstring finalPath);
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::wstring& TemporaryPath() const { return m_temporaryPath; }
  // Replaces the final path with the temporary file in one step, so an
  // older file there is either kept or replaced, never lost. False when
  // that fails (the temporary file is then removed by the destructor).
  bool Commit();

 private:
  std::wstring m_finalPath;
  std::wstring m_temporaryPath;
  int m_cleanupToken = -1;
  bool m_committed = false;
};

// Whether the file on disk holds exactly `size` bytes: a short write that a
// buffered stream noticed only on its final flush shows here.
bool FileHasSize(const std::wstring& path, std::uint64_t size);

}  // namespace KorvelTools
