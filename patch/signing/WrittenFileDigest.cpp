#include "patch/signing/WrittenFileDigest.h"

#include "KernelStandard/platform/Platform.h"

namespace NolkSign {

namespace {

// The Windows level "lowest" (nice 10 on Linux): the thread gives way to
// the receiving thread and, on a loopback or LAN transfer, to the server
// sharing the machine's other core. What it has not hashed by the end is
// hashed by Finish's caller, so it is never starved for long.
constexpr int kHashingThreadPriority = -2;

}  // namespace

WrittenFileDigest::WrittenFileDigest(std::wstring path)
    : m_path(std::move(path)), m_hash(std::make_unique<Sha256>()) {
  m_thread = std::thread([this] {
    OS::Platform& os = OS::Current();
    os.UseFaultStackOnThisThread();  // a fault here can still be reported
    os.SetThreadPriority(os.ThreadId(), kHashingThreadPriority);
    HashRanges();
  });
}

WrittenFileDigest::~WrittenFileDigest() {
  {
    std::lock_guard lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  m_thread.join();
  CloseFile();
}

void WrittenFileDigest::HashRanges() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stop || (!m_draining && !m_ranges.empty()); });
    if (m_stop) return;  // nobody waits for the digest any more
    const Range range = m_ranges.front();
    m_ranges.pop_front();
    m_busy = true;
    lock.unlock();
    HashRange(range);
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}

void WrittenFileDigest::HashRange(const Range& range) {
  if (range.restart) {
    m_hash = std::make_unique<Sha256>();
    m_failed = false;
  }
  if (m_failed || range.begin == range.end) return;
  OS::Platform& os = OS::Current();
  if (m_file == nullptr) m_file = os.OpenStream(m_path, OS::OpenMode::Read);
  if (m_file == nullptr || !os.SeekStream(m_file, range.begin)) {
    m_failed = true;
    return;
  }
  // A short read: the file is shorter than what was written to it.
  if (!HashFromStream(*m_hash, m_file, range.end - range.begin, m_buffer)) m_failed = true;
}

void WrittenFileDigest::CloseFile() {
  if (m_file == nullptr) return;
  OS::Current().CloseStream(m_file);
  m_file = nullptr;
}

void WrittenFileDigest::Restart() {
  m_next = 0;
  m_announced = 0;
  m_restartDue = true;
  m_known = true;
}

bool WrittenFileDigest::Written(std::uint64_t position, std::uint64_t length) {
  if (position == 0) Restart();
  if (!m_known) return false;
  if (position != m_next) {
    m_known = false;
    return false;
  }
  m_next += length;
  return m_next - m_announced >= kAnnounceBytes;
}

void WrittenFileDigest::Resized(std::uint64_t size) {
  if (size == 0) {
    Restart();
  } else if (size < m_next) {
    m_known = false;
  }
}

void WrittenFileDigest::Flushed() {
  if (!m_known || (!m_restartDue && m_announced == m_next)) return;
  {
    std::lock_guard lock(m_lock);
    m_ranges.push_back(Range{m_restartDue, m_announced, m_next});
  }
  m_changed.notify_all();
  m_announced = m_next;
  m_restartDue = false;
}

std::optional<Sha256Digest> WrittenFileDigest::Finish(std::uint64_t fileSize) {
  const bool complete = m_known && m_next == fileSize;
  if (complete) Flushed();
  m_known = false;
  std::deque<Range> rest;
  {
    // The thread finishes the range it holds; the ranges it has not
    // started are hashed here rather than waited for at its low priority.
    std::unique_lock lock(m_lock);
    m_draining = true;
    m_changed.wait(lock, [this] { return !m_busy; });
    rest.swap(m_ranges);
    m_draining = false;
  }
  if (complete) {
    for (const Range& range : rest) HashRange(range);
  }
  CloseFile();
  if (!complete || m_failed) return std::nullopt;
  return m_hash->Finish();
}

}  // namespace NolkSign
