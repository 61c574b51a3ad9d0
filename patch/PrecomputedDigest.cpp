#include "patch/PrecomputedDigest.h"

#include "KernelStandard/Md5.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/EngineFileOps.h"

namespace NolkPatch {

bool PrecomputedDigest::StateOf(const std::wstring& path, FileState& state) {
  OS::FileInfo info;
  if (!OS::Current().Stat(path, info) || info.isDirectory) return false;
  state = {info.size, info.modifiedTime};
  return true;
}

void PrecomputedDigest::Compute(const std::wstring& path) {
  m_kept = false;
  FileState before;
  FileState after;
  std::string digest;
  if (!StateOf(path, before) || !NolkUtil::Md5OfFile(path, digest) || !StateOf(path, after) ||
      !(before == after))
    return;
  m_path = path;
  m_state = before;
  m_digest = std::move(digest);
  m_kept = true;
}

bool PrecomputedDigest::KeptDigestStands(const std::wstring& path) const {
  FileState now;
  return m_kept && path == m_path && StateOf(path, now) && now == m_state;
}

bool PrecomputedDigest::DigestOf(const std::wstring& path, std::string& digest) {
  const bool stands = KeptDigestStands(path);
  m_kept = false;
  if (stands) {
    digest = m_digest;
    return true;
  }
  return NolkUtil::Md5OfFile(path, digest);
}

bool HashableWhileRebuilding(const std::wstring& next, const std::wstring& current) {
  return !PathKey(next).starts_with(PathKey(current));
}

}  // namespace NolkPatch
