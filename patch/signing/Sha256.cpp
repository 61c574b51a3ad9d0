#include "patch/signing/Sha256.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "KernelStandard/platform/Platform.h"

namespace NolkSign {

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

WrittenFileDigest::WrittenFileDigest() : m_hash(std::make_unique<Sha256>()) {
  m_thread = std::thread([this] {
    OS::Current().UseFaultStackOnThisThread();  // a fault here can still be reported
    HashBlocks();
  });
}

WrittenFileDigest::~WrittenFileDigest() {
  {
    std::lock_guard lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void WrittenFileDigest::HashBlocks() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stop || !m_full.empty(); });
    if (m_stop) return;  // nobody waits for the digest any more
    std::unique_ptr<Block> block = std::move(m_full.front());
    m_full.pop_front();
    m_busy = true;
    lock.unlock();
    if (block->restart) m_hash = std::make_unique<Sha256>();
    m_hash->Update(block->bytes.get(), block->used);
    block->restart = false;
    block->used = 0;
    lock.lock();
    m_free.push_back(std::move(block));
    m_busy = false;
    m_changed.notify_all();
  }
}

WrittenFileDigest::Block& WrittenFileDigest::FillingBlock() {
  if (m_filling != nullptr) return *m_filling;
  std::unique_lock lock(m_lock);
  if (m_free.empty() && m_blocksMade < kBlockCount) {
    ++m_blocksMade;
    lock.unlock();
    m_filling = std::make_unique<Block>();
    return *m_filling;
  }
  m_changed.wait(lock, [this] { return !m_free.empty(); });
  m_filling = std::move(m_free.back());
  m_free.pop_back();
  return *m_filling;
}

void WrittenFileDigest::HandOver() {
  if (m_filling == nullptr) return;
  {
    std::lock_guard lock(m_lock);
    m_full.push_back(std::move(m_filling));
  }
  m_changed.notify_all();
}

void WrittenFileDigest::Restart() {
  if (m_filling != nullptr && m_filling->used > 0) HandOver();
  FillingBlock().restart = true;
  m_next = 0;
  m_known = true;
}

void WrittenFileDigest::Written(std::uint64_t position, const void* data, std::size_t length) {
  if (position == 0) Restart();
  if (!m_known) return;
  if (position != m_next) {
    m_known = false;
    return;
  }
  m_next += length;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    Block& block = FillingBlock();
    const std::size_t take = std::min(length, kBlockBytes - block.used);
    std::memcpy(block.bytes.get() + block.used, bytes, take);
    block.used += take;
    bytes += take;
    length -= take;
    if (block.used == kBlockBytes) HandOver();
  }
}

void WrittenFileDigest::Resized(std::uint64_t size) {
  if (size == 0) {
    Restart();
  } else if (size < m_next) {
    m_known = false;
  }
}

std::optional<Sha256Digest> WrittenFileDigest::Finish(std::uint64_t fileSize) {
  if (!m_known || m_next != fileSize) return std::nullopt;
  m_known = false;
  HandOver();
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [this] { return m_full.empty() && !m_busy; });
  return m_hash->Finish();
}

Sha256Digest Sha256Of(const void* data, std::size_t length) {
  Sha256 hash;
  hash.Update(data, length);
  return hash.Finish();
}

bool Sha256OfFile(const std::wstring& path, Sha256Digest& digest) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  std::uint64_t length = 0;
  bool ok = os.StreamLength(stream, length);
  Sha256 hash;
  std::vector<std::uint8_t> buffer(1 << 20);
  while (ok && length > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    const std::size_t got = os.ReadStream(stream, buffer.data(), want);
    if (got != want) ok = false;
    hash.Update(buffer.data(), got);
    length -= got;
  }
  os.CloseStream(stream);
  if (ok) digest = hash.Finish();
  return ok;
}

}  // namespace NolkSign
