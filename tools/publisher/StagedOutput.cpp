#include "tools/publisher/StagedOutput.h"

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/TerminationCleanup.h"

namespace KorvelTools {

StagedOutput::StagedOutput(std::wstring finalPath)
    : m_finalPath(std::move(finalPath)),
      m_temporaryPath(m_finalPath + L".part" + std::to_wstring(OS::Current().ProcessId())),
      m_cleanupToken(OS::RegisterTerminationCleanupFile(m_temporaryPath)) {}

StagedOutput::~StagedOutput() {
  OS::Platform& platform = OS::Current();
  if (!m_committed && platform.Exists(m_temporaryPath)) platform.DeleteFile(m_temporaryPath);
  OS::UnregisterTerminationCleanupFile(m_cleanupToken);
}

bool StagedOutput::Commit() {
  m_committed = OS::Current().ReplaceFile(m_temporaryPath, m_finalPath);
  if (m_committed) {
    OS::UnregisterTerminationCleanupFile(m_cleanupToken);
    m_cleanupToken = -1;
  }
  return m_committed;
}

bool FileHasSize(const std::wstring& path, std::uint64_t size) {
  OS::FileInfo info;
  return OS::Current().Stat(path, info) && !info.isDirectory && info.size == size;
}

}  // namespace KorvelTools
