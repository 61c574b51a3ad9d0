#include "patch/CommitToDisk.h"

#include <algorithm>
#include <system_error>

#include "KernelStandard/Log.h"
#include "KernelStandard/platform/Platform.h"

namespace NolkPatch {
namespace {

// Enough requests in flight to fill the device queue and share commits;
// more threads only add start-up cost.
constexpr std::size_t kHelperThreads = 8;

bool ForceFile(const std::wstring& path) {
  OS::Platform& platform = OS::Current();
  std::FILE* stream = platform.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return !platform.Exists(path);
  const bool forced = platform.FlushStream(stream, true);
  if (!forced) LogPrintW(L"DiskForcer> %ls could not be forced, err %d", path.c_str(), OS::GetLastError());
  platform.CloseStream(stream);
  return forced;
}

}  // namespace

DiskForcer::~DiskForcer() {
  {
    std::lock_guard lock(m_mutex);
    m_next = m_files.size();
    m_closing = true;
  }
  m_queued.notify_all();
  for (std::thread& helper : m_helpers) helper.join();
}

void DiskForcer::Add(const std::wstring& path) {
  {
    std::lock_guard lock(m_mutex);
    m_files.push_back(path);
    m_failed.push_back(0);
  }
  StartHelperIfUseful();
  m_queued.notify_one();
}

void DiskForcer::AddAtFinish(const std::wstring& path) {
  m_atFinish.push_back(path);
}

// One more helper per queued file, up to the limit. Without helpers (the
// system refused a thread) Finish does the work on the calling thread.
void DiskForcer::StartHelperIfUseful() {
  if (m_helpers.size() >= kHelperThreads) return;
  try {
    m_helpers.emplace_back([this] {
      OS::Current().UseFaultStackOnThisThread();  // a fault here can still be reported
      Work();
    });
  } catch (const std::system_error&) {
  }
}

bool DiskForcer::NextFile(std::size_t& index, std::wstring& path) {
  std::unique_lock lock(m_mutex);
  m_queued.wait(lock, [this] { return m_next < m_files.size() || m_closing; });
  if (m_next >= m_files.size()) return false;
  index = m_next++;
  path = m_files[index];
  return true;
}

void DiskForcer::Work() {
  std::size_t index = 0;
  std::wstring path;
  while (NextFile(index, path)) {
    const bool forced = ForceFile(path);
    std::lock_guard lock(m_mutex);
    m_failed[index] = forced ? 0 : 1;
  }
}

bool DiskForcer::Finish(std::wstring& failed) {
  for (const std::wstring& path : m_atFinish) Add(path);
  m_atFinish.clear();
  {
    std::lock_guard lock(m_mutex);
    m_closing = true;
  }
  m_queued.notify_all();
  Work();  // the calling thread helps with what is left
  for (std::thread& helper : m_helpers) helper.join();
  m_helpers.clear();
  const auto first = std::find(m_failed.begin(), m_failed.end(), 1);
  if (first == m_failed.end()) return true;
  failed = m_files[static_cast<std::size_t>(first - m_failed.begin())];
  return false;
}

bool ForceFilesToDisk(const std::vector<std::wstring>& files, std::wstring& failed) {
  DiskForcer forcer;
  for (const std::wstring& file : files) forcer.Add(file);
  return forcer.Finish(failed);
}

}  // namespace NolkPatch
