#include "tools/publisher/StagedOutput.h"

#include "KernelStandard/platform/Platform.h"

namespace KorvelTools {

StagedOutput::StagedOutput(std::wstring finalPath)
    : m_finalPath(std::move(finalPath)),
      m_temporaryPath(m_finalPath + L".part" + std::to_wstring(OS::Current().ProcessId())) {}

StagedOutput::~StagedOutput() {
  OS::Platform& platform = OS::Current();
  if (!m_committed && platform.Exists(m_temporaryPath)) platform.DeleteFile(m_temporaryPath);
}

bool StagedOutput::Commit() {
  OS::Platform& platform = OS::Current();
  if (platform.Exists(m_finalPath) && !platform.DeleteFile(m_finalPath)) return false;
  m_committed = platform.MoveFile(m_temporaryPath, m_finalPath);
  return m_committed;
}

bool FileHasSize(const std::wstring& path, std::uint64_t size) {
  OS::FileInfo info;
  return OS::Current().Stat(path, info) && !info.isDirectory && info.size == size;
}

}  // namespace KorvelTools
